// kadrooa: drives one KadroOcx by JSON-RPC 2.0, one request per line, from standard input or the file named
// as the only argument, answering on standard output. Started by a browser, it is a native messaging host
// instead (host/jsonrpc/NativeHost.h).
#include <clocale>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "control/KadroOcx.h"
#include "host/jsonrpc/Diagnosis.h"
#include "host/jsonrpc/HostSystem.h"
#include "host/jsonrpc/JsonRpc.h"
#include "host/jsonrpc/NativeHost.h"
#include "safety/basSafeCtl.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  const auto system = kadroo::jsonrpc::MakeHostSystem();
  if (argc == 2 && std::string(argv[1]) == "--version") {
    std::printf("kadrooa %s (bridge protocol %d)\n", KADROOA_VERSION, kadroo::jsonrpc::kBridgeProtocol);
    return 0;
  }
  if (argc >= 2 && std::string(argv[1]) == "--diagnose") {
    return kadroo::jsonrpc::RunDiagnosis(*system, KADROOA_VERSION, argc, argv);
  }
  if (argc > 2 && !kadroo::jsonrpc::StartedByBrowser(argc, argv)) {
    std::fprintf(stderr,
                 "usage: kadrooa [requests.jsonl | --version | --browser-policy | --diagnose [--json] [ORIGIN]]\n");
    return 2;
  }
  if (kadroo::jsonrpc::StartedByBrowser(argc, argv)) return kadroo::jsonrpc::RunNativeHost(*system, KADROOA_VERSION);
  if (argc == 2 && std::string(argv[1]) == "--browser-policy") {
    std::string problem;
    const auto origins = kadroo::jsonrpc::ListedOrigins(*system, problem);
    if (!problem.empty()) std::fprintf(stderr, "kadrooa: policy refused: %s\n", problem.c_str());
    std::printf("%s\n", origins.dump().c_str());
    return problem.empty() ? 0 : 1;
  }
  std::ifstream file;
  if (argc == 2) {
    file.open(argv[1], std::ios::binary);
    if (!file) {
      std::fprintf(stderr, "kadrooa: cannot open %s\n", argv[1]);
      return 2;
    }
  }
  std::istream& in = argc == 2 ? static_cast<std::istream&>(file) : std::cin;

  kadroo::basSafeCtl::ThreadStartup();
  kadroo::KadroOcx control(system->platform());
  kadroo::jsonrpc::Server server(control);

  std::string line;
  while (std::getline(in, line)) {
    if (auto response = server.HandleLine(line)) {
      std::fwrite(response->data(), 1, response->size(), stdout);
      std::fputc('\n', stdout);
      std::fflush(stdout);
    }
  }
  return 0;
}
