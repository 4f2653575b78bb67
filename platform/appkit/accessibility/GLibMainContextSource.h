#pragma once

#include <vector>

#include "appkit/RunLoop.h"

typedef struct _GMainContext GMainContext;
typedef struct _GPollFD GPollFD;

namespace appkit {

// GLib's default main context driven from a RunLoop: each pass of the loop prepares the context,
// polls its descriptors together with the loop's own (its timeout bounding the wait) and
// dispatches what is ready, so that GLib-based libraries run without a loop or thread of their
// own. The context is acquired for the loop's thread while the source is joined. Main thread only.
class GLibMainContextSource final : public RunLoop::PollSource {
 public:
  explicit GLibMainContextSource(RunLoop& loop);
  ~GLibMainContextSource() override;
  GLibMainContextSource(const GLibMainContextSource&) = delete;
  GLibMainContextSource& operator=(const GLibMainContextSource&) = delete;

  foundation::TimeInterval prepare(std::vector<pollfd>& fds) override;
  void dispatch(const pollfd* fds, std::size_t count) override;

 private:
  RunLoop& _loop;
  RunLoop::SourceId _id;
  GMainContext* _context;
  bool _acquired;
  int _priority = 0;
  std::vector<GPollFD> _fds;
  std::size_t _count = 0;
};

}  // namespace appkit
