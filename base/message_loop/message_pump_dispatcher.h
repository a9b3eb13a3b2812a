#ifndef BASE_MESSAGE_LOOP_MESSAGE_PUMP_DISPATCHER_H_
#define BASE_MESSAGE_LOOP_MESSAGE_PUMP_DISPATCHER_H_

#include <stdint.h>

#include <windows.h>

namespace base {

// Sees every Windows message of a user-interface run that carries it, in
// place of the default translate-and-dispatch.
class MessagePumpDispatcher {
 public:
  enum PostDispatchAction {
    // The dispatcher handled the message itself.
    POST_DISPATCH_NONE = 0x0,
    // End the run.
    POST_DISPATCH_QUIT_LOOP = 0x1,
    // Also translate and dispatch the message the default way.
    POST_DISPATCH_PERFORM_DEFAULT = 0x2,
  };

  virtual ~MessagePumpDispatcher() = default;

  // Returns a mask of PostDispatchAction flags.
  virtual uint32_t Dispatch(const MSG& msg) = 0;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_PUMP_DISPATCHER_H_
