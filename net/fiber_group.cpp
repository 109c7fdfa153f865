#include "net/fiber_group.h"

#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <new>
#include <stdexcept>
#include <utility>

#include "net/message_pump.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#define QM_ASAN_FIBERS 1
#endif

namespace qm::net {

namespace {

// A session's synchronous code with a TLS handshake under it stays far below
// this; the pages are touched only when used, and a guard page below the
// stack turns an overflow into a crash instead of silent damage.
constexpr size_t kStackBytes = 1 << 20;

struct TStack {
  void* mapping = MAP_FAILED;
  size_t mapped = 0;
  char* bottom = nullptr;  // the usable stack, above the guard page
  size_t size = kStackBytes;
  TStack() {
    const size_t guard = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    mapped = kStackBytes + guard;
    mapping = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (mapping == MAP_FAILED) throw std::bad_alloc();
    mprotect(mapping, guard, PROT_NONE);
    bottom = static_cast<char*>(mapping) + guard;
  }
  ~TStack() { munmap(mapping, mapped); }
  TStack(const TStack&) = delete;
  TStack& operator=(const TStack&) = delete;
};

}  // namespace

struct TFiberGroup::TFiber {
  std::function<void()> work;
  TStack stack;
  ucontext_t context{};
  ucontext_t* scheduler = nullptr;
  bool started = false;
  bool done = false;
  qint64 wakeAtMs = -1;
  std::exception_ptr failure;         // what the work let out
  std::exception_ptr handlerFailure;  // raised by an event handler during the last pump
#ifdef QM_ASAN_FIBERS
  void* fakeStack = nullptr;
  const void* schedulerBottom = nullptr;
  size_t schedulerSize = 0;
#endif
};

namespace {

thread_local TFiberGroup::TFiber* t_current = nullptr;

// Switching stacks behind AddressSanitizer's back makes it lose track of
// which stack is live; these calls tell it.
void SwitchToFiber(TFiberGroup::TFiber& fiber, ucontext_t& from) {
#ifdef QM_ASAN_FIBERS
  void* fake = nullptr;
  __sanitizer_start_switch_fiber(&fake, fiber.stack.bottom, fiber.stack.size);
  swapcontext(&from, &fiber.context);
  __sanitizer_finish_switch_fiber(fake, nullptr, nullptr);
#else
  swapcontext(&from, &fiber.context);
#endif
}

void SwitchToScheduler(TFiberGroup::TFiber& fiber) {
#ifdef QM_ASAN_FIBERS
  __sanitizer_start_switch_fiber(fiber.done ? nullptr : &fiber.fakeStack, fiber.schedulerBottom,
                                 fiber.schedulerSize);
  swapcontext(&fiber.context, fiber.scheduler);
  __sanitizer_finish_switch_fiber(fiber.fakeStack, &fiber.schedulerBottom, &fiber.schedulerSize);
#else
  swapcontext(&fiber.context, fiber.scheduler);
#endif
}

void FiberEntry() {
  TFiberGroup::TFiber& fiber = *t_current;
#ifdef QM_ASAN_FIBERS
  __sanitizer_finish_switch_fiber(nullptr, &fiber.schedulerBottom, &fiber.schedulerSize);
#endif
  try {
    fiber.work();
  } catch (...) {
    fiber.failure = std::current_exception();
  }
  fiber.done = true;
  SwitchToScheduler(fiber);  // never comes back: a finished fiber is not resumed
}

}  // namespace

TFiberGroup::TFiberGroup() = default;
TFiberGroup::~TFiberGroup() = default;

void TFiberGroup::Add(std::function<void()> work) {
  auto fiber = std::make_unique<TFiber>();
  fiber->work = std::move(work);
  m_fibers.push_back(std::move(fiber));
}

bool InFiber() { return t_current != nullptr; }

void YieldFiber(qint64 wakeAtMs) {
  TFiberGroup::TFiber& fiber = *t_current;
  fiber.wakeAtMs = wakeAtMs;
  SwitchToScheduler(fiber);
  if (fiber.handlerFailure) std::rethrow_exception(std::exchange(fiber.handlerFailure, nullptr));
}

void TFiberGroup::Resume(TFiber& fiber) {
  ucontext_t scheduler{};
  fiber.scheduler = &scheduler;
  if (!fiber.started) {
    fiber.started = true;
    getcontext(&fiber.context);
    fiber.context.uc_stack.ss_sp = fiber.stack.bottom;
    fiber.context.uc_stack.ss_size = fiber.stack.size;
    fiber.context.uc_link = nullptr;
    makecontext(&fiber.context, FiberEntry, 0);
  }
  TFiber* outer = std::exchange(t_current, &fiber);
  SwitchToFiber(fiber, scheduler);
  t_current = outer;
}

qint64 TFiberGroup::NextWake() const {
  qint64 wake = -1;
  for (const auto& fiber : m_fibers) {
    if (fiber->done) continue;
    if (fiber->wakeAtMs < 0) continue;
    wake = wake < 0 ? fiber->wakeAtMs : std::min(wake, fiber->wakeAtMs);
  }
  return wake;
}

void TFiberGroup::Run() {
  if (InFiber()) throw std::logic_error("a fiber group cannot run inside a fiber");
  for (;;) {
    bool running = false;
    for (const auto& fiber : m_fibers) {
      if (fiber->done) continue;
      Resume(*fiber);
      running = running || !fiber->done;
    }
    if (!running) break;
    try {
      PumpMessagesOnce(NextWake());
    } catch (...) {
      for (const auto& fiber : m_fibers)
        if (!fiber->done) fiber->handlerFailure = std::current_exception();
    }
  }
  for (const auto& fiber : m_fibers)
    if (fiber->failure) std::rethrow_exception(fiber->failure);
}

}  // namespace qm::net
