#include "host/jsonrpc/NativeHost.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "control/KadroOcx.h"
#include "host/jsonrpc/Framing.h"
#include "host/jsonrpc/JsonRpc.h"
#include "policy/PolicySession.h"
#include "safety/basSafeCtl.h"

namespace kadroo::jsonrpc {
namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

void Note(const std::string& text) {
  const std::string line = "kadrooa: " + text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

// The browser is gone, or the page that made the call: nobody is left to serve, and a call that runs is abandoned
// at once, as if the process had been killed.
[[noreturn]] void Abandon() { std::_Exit(0); }

// Frames in from the browser and out to it.
class Channel {
 public:
  explicit Channel(HostSystem& system) : system_(system) {}

  // The next frame's body; false at the end of input, or on a frame too long to read, which ends the connection.
  bool Read(std::string& body) {
    for (;;) {
      switch (reader_.Next(body)) {
        case FrameReader::Status::kFrame: return true;
        case FrameReader::Status::kTooLarge:
          Note("a message over " + std::to_string(kMaxIncomingFrame) + " bytes: connection closed");
          return false;
        case FrameReader::Status::kNeedMore: break;
      }
      char buffer[65536];
      const size_t n = system_.ReadInput(buffer, sizeof buffer);
      if (n == 0) {
        if (reader_.Partial()) Note("the input ended inside a message");
        return false;
      }
      reader_.Feed(buffer, n);
    }
  }

  // The next message that parses (null for an empty frame); one that does not is answered with its error. False at
  // the end of input.
  bool Next(json& message) {
    std::string body;
    json error;
    while (Read(body)) {
      if (Server::Parse(body, message, error)) return true;
      Write(error);
    }
    return false;
  }

  // Writes one message; a response too long for the browser is replaced by an error. The browser gone, the
  // host has no one left to serve and ends.
  void Write(const json& message) {
    std::string body = Server::Dump(message);
    if (body.size() > kMaxOutgoingFrame) {
      const json id = message.is_object() && message.contains("id") ? message["id"] : json();
      const json data = {{"size", body.size()}, {"limit", kMaxOutgoingFrame}};
      body = Server::Dump(ErrorResponse(id, kResponseTooLarge, "response too large", &data));
    }
    if (!system_.WriteOutput(EncodeFrame(body))) Abandon();
  }

 private:
  HostSystem& system_;
  FrameReader reader_;
};

json Notification(const char* method, json params) {
  return {{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}};
}

// The control on the host's platform, with the browser in place of the message box and the site's policy in front
// of every target a page may name. The control is made once the handshake has named a listed origin.
class Bridge final : public UserPrompt, public TransferObserver {
 public:
  Bridge(HostSystem& system, std::string version) : system_(system), channel_(system), version_(std::move(version)) {
    system_.ObserveTransfers(this);
  }
  ~Bridge() override { system_.ObserveTransfers(nullptr); }

  int Run() {
    WatchInput();
    json message;
    while (channel_.Next(message)) {
      if (message.is_null()) {  // an empty frame, or the text null
        channel_.Write(ErrorResponse(nullptr, kInvalidRequest, "Invalid Request"));
        continue;
      }
      const bool single = message.is_object();
      const json id = single && message.contains("id") ? message["id"] : json();
      const bool answered = !single || message.contains("id");
      const json* method = single && message.contains("method") ? &message["method"] : nullptr;
      if (method && *method == "kadrooa.hello") {
        if (session_) {
          channel_.Write(ErrorResponse(id, kInvalidRequest, "Invalid Request: the handshake was made already"));
        } else if (!Hello(message, id)) {
          return 0;
        }
        continue;
      }
      if (method && *method == "kadrooa.origins" && !session_) {  // the extension's own question, before any page
        std::string problem;
        json result = ListedOrigins(system_, problem);
        if (!problem.empty()) Note("policy refused, every site is refused: " + problem);
        channel_.Write({{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}});
        continue;
      }
      if (!session_) {
        if (answered) channel_.Write(ErrorResponse(id, kHandshakeRequired, "handshake required"));
        continue;
      }
      if (method && *method == "kadrooa.answer") continue;  // nothing waits for it any more
      if (auto response = session_->server.Handle(message)) channel_.Write(*response);
    }
    return 0;
  }

  // UserPrompt: the page shows the message box; the call goes on once it answers.
  void MessageBox(TextView prompt, TextView title) override {
    const int number = ++prompts_;
    channel_.Write(Notification("kadrooa.prompt", {{"prompt", number},
                                                   {"title", ToUtf8Lossy(title)},
                                                   {"text", ToUtf8Lossy(prompt)},
                                                   {"call", call_}}));
    json message;
    for (;;) {
      if (!channel_.Next(message)) Abandon();
      if (message.is_object() && message.value("method", json()) == "kadrooa.answer") {
        const auto params = message.find("params");
        if (params != message.end() && params->is_object() && params->value("prompt", json()) == number) return;
        continue;
      }
      if (message.is_array() || (message.is_object() && message.contains("id"))) {
        const json id = message.is_object() ? message["id"] : json();
        channel_.Write(ErrorResponse(id, kAwaitingAnswer, "a call is waiting for a prompt's answer"));
      }
    }
  }

  // TransferObserver: a few times a second, and at the end.
  void OnTransfer(uint64_t done, int64_t total, bool finished) override {
    if (call_.is_null()) return;
    const auto now = Clock::now();
    if (!finished && now - lastProgress_ < std::chrono::milliseconds(200)) return;
    lastProgress_ = now;
    channel_.Write(Notification("kadrooa.progress", {{"call", call_}, {"done", done}, {"total", total}}));
  }

 private:
  // One control held to one site's policy, the browser in place of the message box.
  struct Session {
    explicit Session(Bridge& bridge)
        : policy(WithPrompt(bridge.system_.platform(), bridge), bridge.system_.paths()),
          control(policy.platform()),
          server(control,
                 ServerOptions{.containerMethods = false,
                               .beforeCall = [&bridge](std::string_view method, const std::vector<CallArgument>& args,
                                                       const json& id) { bridge.BeforeCall(method, args, id); },
                               .afterCall = [&bridge] { bridge.AfterCall(); }}) {}
    static Platform WithPrompt(const Platform& p, UserPrompt& prompt) {
      return {p.lastError, p.files, prompt, p.codePage, p.ftp, p.registry, p.processes};
    }
    PolicySession policy;
    KadroOcx control;
    Server server;
  };

  bool Hello(const json& message, const json& id) {
    const auto params = message.find("params");
    const json origin = params != message.end() && params->is_object() ? params->value("origin", json()) : json();
    if (!origin.is_string()) {
      channel_.Write(ErrorResponse(id, kInvalidParams, "Invalid params: the handshake names no origin"));
      return true;
    }
    const PolicyLoad policy = system_.LoadPolicy();
    if (policy.status == PolicyLoad::Status::kRefused) Note("policy refused, every site is refused: " + policy.problem);
    auto session = std::make_unique<Session>(*this);
    if (!session->policy.Open(policy, origin.get<std::string>())) {
      const json data = {{"refused", "origin"}, {"target", origin}, {"policy", policy.place}};
      channel_.Write(ErrorResponse(id, kRefusedByPolicy, RefusalText(session->policy.refusal()), &data));
      return false;
    }
    session_ = std::move(session);
    channel_.Write({{"jsonrpc", "2.0"}, {"id", id}, {"result", {{"host", version_}, {"protocol", kBridgeProtocol},
                                                            {"protocolMinor", kBridgeProtocolMinor}}}});
    return true;
  }

  void BeforeCall(std::string_view method, const std::vector<CallArgument>& args, const json& id) {
    input_->busy = true;
    if (input_->closed) Abandon();
    call_ = id;
    lastProgress_ = Clock::now();
    session_->policy.BeforeCall(method, args);
  }

  void AfterCall() {
    session_->policy.AfterCall();
    call_ = nullptr;
    input_->busy = false;
  }

  // The browser closes standard input when the page goes; a call that is running then (a long transfer) is
  // abandoned at once, as if the process had been killed, instead of keeping the host alive till it ends.
  void WatchInput() {
    system_.WatchInputEnd([input = input_] {
      input->closed = true;
      if (input->busy) Abandon();
    });
  }

  HostSystem& system_;
  Channel channel_;
  std::string version_;
  std::unique_ptr<Session> session_;
  json call_;
  int prompts_ = 0;
  Clock::time_point lastProgress_;
  // Shared with the watching thread, which may outlive the bridge.
  struct InputState {
    std::atomic<bool> busy{false};
    std::atomic<bool> closed{false};
  };
  std::shared_ptr<InputState> input_ = std::make_shared<InputState>();
};

}  // namespace

bool StartedByBrowser(int argc, char** argv) {
  if (argc >= 2 && std::strncmp(argv[1], "chrome-extension://", 19) == 0) return true;
  if (argc == 3) {
    const size_t length = std::strlen(argv[1]);
    return length > 5 && std::strcmp(argv[1] + length - 5, ".json") == 0;
  }
  return false;
}

int RunNativeHost(HostSystem& system, const std::string& version) {
  if (!system.TakeBrowserStreams()) {
    Note("cannot set up standard output");
    return 1;
  }
  basSafeCtl::ThreadStartup();
  Bridge bridge(system, version);
  return bridge.Run();
}

json ListedOrigins(HostSystem& system, std::string& problem) {
  const PolicyLoad policy = system.LoadPolicy();
  problem = policy.problem;
  json origins = json::array();
  for (const auto& [origin, site] : policy.policy.sites) origins.push_back(origin);
  return {{"origins", std::move(origins)}};
}

}  // namespace kadroo::jsonrpc
