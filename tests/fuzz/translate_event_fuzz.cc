// Any bytes as a received buffer, through the channels' acceptance rule and the translation.
// A conversion error is an accepted outcome; anything else must be a well-formed event frame.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "frames/console_frame.h"
#include "frames/conversion_error.h"
#include "frames/frame_checksum.h"
#include "frames/receiver_message.h"
#include "frames/translate_event.h"

namespace gateway {
namespace {

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "translate_event_fuzz: %s\n", what);
  std::abort();
}

// Checks that the translation resets exactly the message's account, once.
class ExpectedReset : public CounterReset {
 public:
  explicit ExpectedReset(std::string_view account) : account_(account) {}
  void ResetCounter(std::string_view account) override {
    Require(account == account_, "reset of another account");
    ++calls_;
  }
  int calls() const { return calls_; }

 private:
  std::string_view account_;
  int calls_ = 0;
};

void CheckFrame(std::string_view message, const ConsoleFrame& frame) {
  Require(frame.size() >= 7 && frame.size() <= 11, "frame outside 7 to 11 bytes");
  Require(frame[0] == kFrameStart, "bad start byte");
  Require(frame[1] == frame.size() - 3, "length byte disagrees with the frame");
  Require(frame[2] == kEventKind, "bad kind byte");
  // The translation succeeded, so the account is decimal.
  const ObjectBytes object = EncodeObjectNumber(ReadDecimal(AccountOf(message)));
  Require(frame[3] == object.lo && frame[4] == object.hi, "bad object bytes");
  Require(frame[5] == (message[3] == '1' ? kTypeLineOne : kTypeEvent), "bad type byte");
  Require(ChecksumOf(frame) == 0, "bad checksum");
}

}  // namespace
}  // namespace gateway

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace gateway;
  const std::string_view buffer(reinterpret_cast<const char*>(data), size);
  if (!IsAcceptableMessage(buffer)) return 0;
  ExpectedReset reset(AccountOf(buffer));
  try {
    CheckFrame(buffer, TranslateEvent(buffer, reset));
  } catch (const ConversionError&) {
  }
  Require(reset.calls() == 1, "the account was not reset exactly once");
  return 0;
}
