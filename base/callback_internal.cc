#include "base/callback_internal.h"

#include <stddef.h>

#include "base/check.h"

namespace base {
namespace internal {

namespace {

// Shared by every state that was not given a query of its own.
bool QueryCancellationNever(const BindStateBase*) {
  return false;
}

}  // namespace

static_assert(sizeof(BindStateBase) == 4 * sizeof(void*),
              "the header is the count and three function pointers");

BindStateBase::BindStateBase(InvokeFuncStorage polymorphic_invoke,
                             DestroyFunc destroy)
    : BindStateBase(polymorphic_invoke, destroy, &QueryCancellationNever) {}

BindStateBase::BindStateBase(InvokeFuncStorage polymorphic_invoke,
                             DestroyFunc destroy,
                             QueryCancellationFunc query_cancellation)
    : ref_count_(1),
      polymorphic_invoke_(polymorphic_invoke),
      destroy_(destroy),
      query_cancellation_(query_cancellation) {}

void BindStateBase::AddRef() const {
  ref_count_.fetch_add(1, std::memory_order_relaxed);
}

void BindStateBase::Release() const {
  // The thread that drops the last reference destroys the state, and must
  // see every write the other holders made before they let go.
  if (ref_count_.fetch_sub(1, std::memory_order_acq_rel) == 1)
    destroy_(this);
}

CallbackBase::CallbackBase(BindStateBase* bind_state)
    : bind_state_(bind_state) {}

CallbackBase::CallbackBase(CallbackBase&& other) noexcept
    : bind_state_(other.bind_state_) {
  other.bind_state_ = nullptr;
}

CallbackBase& CallbackBase::operator=(CallbackBase&& other) noexcept {
  // Taking from |other| before reading our own pointer leaves a
  // self-move harmless.
  BindStateBase* taken = other.bind_state_;
  other.bind_state_ = nullptr;
  BindStateBase* previous = bind_state_;
  bind_state_ = taken;
  ReleaseState(previous);
  return *this;
}

CallbackBase::~CallbackBase() {
  ReleaseState(bind_state_);
}

bool CallbackBase::IsCancelled() const {
  DCHECK(bind_state_ != nullptr);
  return bind_state_->IsCancelled();
}

void CallbackBase::Reset() {
  BindStateBase* previous = bind_state_;
  bind_state_ = nullptr;
  ReleaseState(previous);
}

// static
void CallbackBase::AddRefState(BindStateBase* bind_state) {
  if (bind_state)
    bind_state->AddRef();
}

// static
void CallbackBase::ReleaseState(BindStateBase* bind_state) {
  if (bind_state)
    bind_state->Release();
}

CallbackBaseCopyable::CallbackBaseCopyable(const CallbackBaseCopyable& other)
    : CallbackBase(other.bind_state_) {
  AddRefState(bind_state_);
}

CallbackBaseCopyable& CallbackBaseCopyable::operator=(
    const CallbackBaseCopyable& other) {
  // The new state gains its reference before the old one loses its own, so
  // assigning a callback to itself (or to a copy of itself) keeps the
  // state alive.
  BindStateBase* previous = bind_state_;
  AddRefState(other.bind_state_);
  bind_state_ = other.bind_state_;
  ReleaseState(previous);
  return *this;
}

}  // namespace internal
}  // namespace base
