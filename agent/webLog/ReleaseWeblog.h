#pragma once

// Releases the statistics library's export object when destroyed: the file-scope instance of the
// statistics module does so at process exit, once no send is using the object. Only the first
// release has an effect; sends afterwards return -1.
class ReleaseWeblog {
 public:
  ReleaseWeblog() = default;
  ~ReleaseWeblog();
  ReleaseWeblog(const ReleaseWeblog&) = delete;
  ReleaseWeblog& operator=(const ReleaseWeblog&) = delete;
};
