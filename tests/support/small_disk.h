#pragma once
// A disk that takes no file beyond a few bytes, for tests of what a full disk
// does to a save: the kernel's file size limit, with the signal it raises
// ignored so that the write fails with an error instead. Both are undone when
// the object goes.

#include <csignal>
#include <sys/resource.h>

namespace gp::test {

class SmallDisk {
  public:
    explicit SmallDisk(rlim_t limit) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        oldHandler_ = ::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved_;
        small.rlim_cur = limit;
        active_ = ::setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~SmallDisk() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        ::signal(SIGXFSZ, oldHandler_);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool active() const { return active_; }

  private:
    rlimit saved_{};
    void (*oldHandler_)(int) = nullptr;
    bool active_ = false;
};

} // namespace gp::test
