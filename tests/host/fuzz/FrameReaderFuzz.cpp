// The native messaging frame reader on arbitrary input, fed in arbitrary pieces: it must give the same frames
// as when fed all at once, never a frame over its limit, and each frame must encode back to the bytes it came from.
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/jsonrpc/Framing.h"

using kadroo::jsonrpc::EncodeFrame;
using kadroo::jsonrpc::FrameReader;

namespace {

constexpr size_t kLimit = 4096;

struct Outcome {
  std::vector<std::string> frames;
  bool tooLarge = false;
  bool partial = false;
};

void Drain(FrameReader& reader, Outcome& outcome) {
  std::string frame;
  for (;;) {
    const auto status = reader.Next(frame);
    if (status == FrameReader::Status::kNeedMore) return;
    if (status == FrameReader::Status::kTooLarge) {
      outcome.tooLarge = true;
      return;
    }
    if (frame.size() > kLimit) std::abort();
    outcome.frames.push_back(frame);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t step = data[0] % 17 + 1;  // the pieces the input arrives in
  const char* input = reinterpret_cast<const char*>(data + 1);
  const size_t length = size - 1;

  Outcome whole, pieces;
  FrameReader all(kLimit), split(kLimit);
  all.Feed(input, length);
  Drain(all, whole);
  whole.partial = all.Partial();
  for (size_t at = 0; at < length && !pieces.tooLarge; at += step) {
    split.Feed(input + at, std::min(step, length - at));
    Drain(split, pieces);
  }
  pieces.partial = split.Partial();
  if (whole.frames != pieces.frames || whole.tooLarge != pieces.tooLarge) std::abort();
  if (!whole.tooLarge && whole.partial != pieces.partial) std::abort();

  std::string encoded;
  for (const auto& frame : whole.frames) encoded += EncodeFrame(frame);
  if (encoded != std::string(input, encoded.size())) std::abort();
  return 0;
}
