#include "appkit/accessibility/GLibMainContextSource.h"

#include <glib.h>

namespace appkit {

GLibMainContextSource::GLibMainContextSource(RunLoop& loop)
    : _loop(loop), _context(g_main_context_default()) {
  _acquired = g_main_context_acquire(_context);
  _id = _loop.addPollSource(*this);
}

GLibMainContextSource::~GLibMainContextSource() {
  _loop.removePollSource(_id);
  if (_acquired) g_main_context_release(_context);
}

foundation::TimeInterval GLibMainContextSource::prepare(std::vector<pollfd>& fds) {
  _count = 0;
  if (!_acquired) return foundation::TimeInterval::infinite();
  bool ready = g_main_context_prepare(_context, &_priority);
  int timeout = -1;
  int needed = 0;
  while ((needed = g_main_context_query(_context, _priority, &timeout, _fds.data(),
                                        static_cast<int>(_fds.size()))) >
         static_cast<int>(_fds.size())) {
    _fds.resize(static_cast<std::size_t>(needed));
  }
  _count = static_cast<std::size_t>(needed);
  for (std::size_t i = 0; i < _count; ++i) {
    // GLib's condition bits are poll()'s.
    fds.push_back(pollfd{_fds[i].fd, static_cast<short>(_fds[i].events), 0});
  }
  if (ready || timeout == 0) return foundation::TimeInterval();
  if (timeout < 0) return foundation::TimeInterval::infinite();
  return foundation::TimeInterval::milliseconds(timeout);
}

void GLibMainContextSource::dispatch(const pollfd* fds, std::size_t count) {
  if (!_acquired || count != _count) return;
  for (std::size_t i = 0; i < _count; ++i) _fds[i].revents = static_cast<gushort>(fds[i].revents);
  if (g_main_context_check(_context, _priority, _fds.data(), static_cast<int>(_count))) {
    g_main_context_dispatch(_context);
  }
}

}  // namespace appkit
