#pragma once

// The command line of the benchmark tools: options "--name VALUE" and flags
// "--name", any order. An unknown option, a missing value, or a check that
// fails after parsing prints the usage line and exits with status 1.
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace zor::bench {

class TToolOptions {
 public:
  // AProgram names the tool in messages; AUsage is its usage line.
  TToolOptions(std::string AProgram, std::string AUsage) : FProgram(std::move(AProgram)), FUsage(std::move(AUsage)) {}

  // An option with a value; ASet receives its text.
  TToolOptions& Value(std::string AName, std::function<void(const char*)> ASet) {
    FOptions.push_back({std::move(AName), std::move(ASet), nullptr});
    return *this;
  }
  // A flag that sets AField to true.
  TToolOptions& Flag(std::string AName, bool& AField) {
    FOptions.push_back({std::move(AName), nullptr, &AField});
    return *this;
  }

  // Applies argv[1..]; AValid (when given) is checked afterwards.
  void Parse(int argc, char** argv, const std::function<bool()>& AValid = {}) const {
    for (int i = 1; i < argc; ++i) {
      const std::string name = argv[i];
      const TOption* option = Find(name);
      if (option == nullptr) Fail(FProgram + ": unknown option " + name);
      if (option->Flag != nullptr) {
        *option->Flag = true;
      } else {
        if (i + 1 >= argc) Fail(FProgram + ": " + name + " needs a value");
        option->Set(argv[++i]);
      }
    }
    if (AValid && !AValid()) Fail({});
  }

 private:
  struct TOption {
    std::string Name;
    std::function<void(const char*)> Set;
    bool* Flag;
  };

  const TOption* Find(const std::string& AName) const {
    for (const TOption& option : FOptions)
      if (option.Name == AName) return &option;
    return nullptr;
  }

  [[noreturn]] void Fail(const std::string& AMessage) const {
    if (!AMessage.empty()) std::fprintf(stderr, "%s\n", AMessage.c_str());
    std::fprintf(stderr, "usage: %s\n", FUsage.c_str());
    std::exit(1);
  }

  std::string FProgram;
  std::string FUsage;
  std::vector<TOption> FOptions;
};

}  // namespace zor::bench
