// answer_service: the local answer service of Quorvane and the import command of its bank.
//
//   answer_service serve  [--bank FILE] [--host ADDRESS] [--port N]
//   answer_service import [--bank FILE] BANK.tsv
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tools/answer_service/http_front.h"
#include "tools/answer_service/importer.h"
#include "tools/answer_service/store.h"

namespace {

using namespace qv::answers;

constexpr const char* kDefaultBank = "answer_bank.sqlite3";

int Usage() {
  std::cerr << "usage: answer_service serve  [--bank FILE] [--host ADDRESS] [--port N]\n"
               "       answer_service import [--bank FILE] BANK.tsv\n"
               "The bank defaults to ./" << kDefaultBank << "; the service listens on "
            << kDefaultHost << ":" << kDefaultPort << " unless told otherwise.\n";
  return 2;
}

struct Options {
  std::string bank = kDefaultBank;
  std::string host = kDefaultHost;
  int port = kDefaultPort;
  std::vector<std::string> files;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == "--bank" && hasValue) {
      options.bank = argv[++i];
    } else if (arg == "--host" && hasValue) {
      options.host = argv[++i];
    } else if (arg == "--port" && hasValue) {
      try {
        size_t used = 0;
        std::string value = argv[++i];
        options.port = std::stoi(value, &used);
        if (used != value.size() || options.port < 1 || options.port > 65535) return false;
      } catch (const std::exception&) {
        return false;
      }
    } else if (!arg.empty() && arg[0] != '-') {
      options.files.push_back(arg);
    } else {
      return false;
    }
  }
  return true;
}

int Import(const Options& options) {
  if (options.files.size() != 1) return Usage();
  std::ifstream file(options.files[0], std::ios::binary);
  if (!file) {
    std::cerr << "answer_service: cannot read " << options.files[0] << "\n";
    return 1;
  }
  try {
    Store store(options.bank, Store::Access::kWrite);
    ImportReport report = ImportBank(store, file);
    for (const std::string& problem : report.problems) std::cerr << options.files[0] << ": " << problem << "\n";
    if (!report.imported) return 1;
    std::cout << "answer_service: imported " << report.added[0] << " vm and " << report.added[1]
              << " tdl questions into " << options.bank;
    if (!report.problems.empty()) std::cout << "; skipped " << report.problems.size() << " lines";
    std::cout << "\n";
    return 0;
  } catch (const StoreError& error) {
    std::cerr << "answer_service: " << error.what() << "\n";
    return 1;
  }
}

int Serve(const Options& options) {
  if (!options.files.empty()) return Usage();
  // SIGINT and SIGTERM are taken by one thread that stops the server; blocked here before any
  // thread starts, so that no worker receives them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  try {
    AnswerService service(options.bank);
    if (service.Bind(options.host, options.port) < 0) {
      std::cerr << "answer_service: cannot listen on " << options.host << ":" << options.port << "\n";
      return 1;
    }
    std::thread stopper([&] {
      int signal = 0;
      sigwait(&stopSignals, &signal);
      service.Stop();
    });
    std::cout << "answer_service: answering on http://" << options.host << ":" << options.port << " from "
              << options.bank << std::endl;
    service.Serve();
    // Serve() returns after a stop signal; should it return for any other reason, the same signal
    // ends the waiting thread.
    kill(getpid(), SIGTERM);
    stopper.join();
    return 0;
  } catch (const StoreError& error) {
    std::cerr << "answer_service: " << error.what() << " (import a bank first: answer_service import --bank "
              << options.bank << " BANK.tsv)\n";
    return 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  Options options;
  if (!ParseOptions(argc, argv, options)) return Usage();
  std::string command = argv[1];
  if (command == "import") return Import(options);
  if (command == "serve") return Serve(options);
  return Usage();
}
