#include "host/jsonrpc/Framing.h"

#include <cstring>

namespace kadroo::jsonrpc {

void FrameReader::Feed(const char* data, size_t size) {
  // Consumed bytes are dropped before the buffer grows, so that it holds at most one frame and a read's worth.
  if (start_ > 0 && (start_ == buffer_.size() || start_ >= 64 * 1024)) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
  buffer_.append(data, size);
}

FrameReader::Status FrameReader::Next(std::string& frame) {
  if (tooLarge_) return Status::kTooLarge;
  const size_t held = buffer_.size() - start_;
  uint32_t length = 0;
  if (held < sizeof length) return Status::kNeedMore;
  std::memcpy(&length, buffer_.data() + start_, sizeof length);
  if (length > maxFrame_) {
    tooLarge_ = true;
    return Status::kTooLarge;
  }
  if (held - sizeof length < length) {
    // Room for the whole frame at once: growing by doubling would hold up to three times its size.
    buffer_.reserve(start_ + sizeof length + length);
    return Status::kNeedMore;
  }
  if (start_ == 0 && held == sizeof length + length && length > 64 * 1024) {
    // A large frame alone in the buffer is handed over rather than copied.
    buffer_.erase(0, sizeof length);
    frame.swap(buffer_);
    buffer_.clear();
    return Status::kFrame;
  }
  frame.assign(buffer_, start_ + sizeof length, length);
  start_ += sizeof length + length;
  return Status::kFrame;
}

std::string EncodeFrame(std::string_view body) {
  const uint32_t length = static_cast<uint32_t>(body.size());
  std::string frame(sizeof length, '\0');
  std::memcpy(frame.data(), &length, sizeof length);
  frame.append(body);
  return frame;
}

}  // namespace kadroo::jsonrpc
