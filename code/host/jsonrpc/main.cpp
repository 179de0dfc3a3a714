// kadrooa: drives one KadroOcx by JSON-RPC 2.0, one request per line, from standard input or the file named
// as the only argument, answering on standard output.
#include <clocale>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "control/KadroOcx.h"
#include "host/jsonrpc/JsonRpc.h"
#include "host/posix/PosixPlatform.h"
#include "safety/basSafeCtl.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  if (argc > 2) {
    std::fprintf(stderr, "usage: kadrooa [requests.jsonl]\n");
    return 2;
  }
  std::ifstream file;
  if (argc == 2) {
    file.open(argv[1]);
    if (!file) {
      std::fprintf(stderr, "kadrooa: cannot open %s\n", argv[1]);
      return 2;
    }
  }
  std::istream& in = argc == 2 ? static_cast<std::istream&>(file) : std::cin;

  kadroo::basSafeCtl::ThreadStartup();
  kadroo::posix::PosixPlatform host;
  kadroo::KadroOcx control(host.platform());
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
