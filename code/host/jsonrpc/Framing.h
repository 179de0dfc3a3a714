#pragma once
// The browsers' native messaging framing: each message is a 32-bit length in the machine's byte order followed by
// that many bytes of UTF-8 JSON. Standard library only, so that the reader can be fuzzed on its own.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kadroo::jsonrpc {

// Host -> browser: the browsers close the port on anything longer.
inline constexpr size_t kMaxOutgoingFrame = 1024 * 1024;
// Browser -> host: the browsers allow 4 GB; nothing the control takes needs megabytes. The page's side lets through
// at most 256 Ki UTF-16 units of JSON, which the browser writes in at most 6 bytes each (\uXXXX).
inline constexpr size_t kMaxIncomingFrame = 2 * 1024 * 1024;

class FrameReader {
 public:
  explicit FrameReader(size_t maxFrame = kMaxIncomingFrame) : maxFrame_(maxFrame) {}

  enum class Status { kFrame, kNeedMore, kTooLarge };

  void Feed(const char* data, size_t size);
  // The next whole frame's body into `frame`; kTooLarge once a length over the limit was read (and from then on).
  Status Next(std::string& frame);
  // Bytes are held that do not make a whole frame: end of input now cuts a message.
  bool Partial() const { return buffer_.size() > start_; }

 private:
  size_t maxFrame_;
  std::string buffer_;
  size_t start_ = 0;
  bool tooLarge_ = false;
};

// The frame for `body`: its length in the machine's byte order, then the body.
std::string EncodeFrame(std::string_view body);

}  // namespace kadroo::jsonrpc
