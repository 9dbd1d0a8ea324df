#include "protocol/reject.h"

#include <chrono>
#include <thread>

#include "protocol/agent_state.h"
#include "protocol/request.h"

namespace perimo {

void RejectFrame(const AgentState& agent, Connection* connection, ReplyFn reply) {
  static constexpr uint8_t kRefused[] = {kNak, 0x35};
  if (reply) reply(connection, kRefused, sizeof kRefused);
  if (agent.pause) {
    agent.pause(kRejectPauseMilliseconds);
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(kRejectPauseMilliseconds));
  }
}

}  // namespace perimo
