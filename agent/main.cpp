#include "appkit/Application.h"

int main(int argc, char** argv) { return appkit::applicationMain(argc, argv); }
