// A stand-in loader for the tests of the optional-function table: modules
// that are loaded already, files that can be loaded, the functions each
// exports, and a log of every operation asked of it.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "support/dimports.h"
#include "support/dimports_platform.h"
#include "support/test_util.h"

namespace ostrivane::testutil {

class FakeDynamicLibraries final : public DImports::IDynamicLibraries {
 public:
  // `file` is among the loaded modules.
  void AddLoaded(const std::string& file) { loaded_.insert(file); }
  // `file` can be loaded.
  void AddFile(const std::string& file) { files_.insert(file); }
  // `file` exports `name` as `function`.
  void AddFunction(const std::string& file, const std::string& name,
                   DImports::ProcAddress function) {
    exports_[file][name] = function;
  }
  void SetExecutable(bool executable) { executable_ = executable; }
  void SetInitialErrorMode(std::uint32_t mode) { errorMode_ = mode; }
  // Runs in Load, while the error mode is set, e.g. to disturb the
  // floating-point environment.
  void SetOnLoad(void (*onLoad)()) { onLoad_ = onLoad; }

  // "find F", "load F", "mode M" (hex), "proc F N", "release F", in order.
  [[nodiscard]] std::vector<std::string> Log() const {
    const std::lock_guard lock(mutex_);
    return log_;
  }
  void ClearLog() {
    const std::lock_guard lock(mutex_);
    log_.clear();
  }
  [[nodiscard]] std::uint32_t ErrorMode() const { return errorMode_; }
  // The error mode in force during each Load, in order.
  [[nodiscard]] std::vector<std::uint32_t> ModesDuringLoad() const {
    const std::lock_guard lock(mutex_);
    return modesDuringLoad_;
  }

  DImports::ModuleHandle FindLoaded(const char* fileName) override {
    const std::lock_guard lock(mutex_);
    log_.push_back(std::string("find ") + fileName);
    return loaded_.count(fileName) != 0 ? HandleOf(fileName) : nullptr;
  }
  DImports::ModuleHandle Load(const char* fileName) override {
    const std::lock_guard lock(mutex_);
    log_.push_back(std::string("load ") + fileName);
    modesDuringLoad_.push_back(errorMode_);
    if (onLoad_ != nullptr) onLoad_();
    if (loaded_.count(fileName) == 0 && files_.count(fileName) == 0) return nullptr;
    loaded_.insert(fileName);
    return HandleOf(fileName);
  }
  std::uint32_t SetErrorMode(std::uint32_t mode) override {
    const std::lock_guard lock(mutex_);
    log_.push_back("mode 0x" + Hex(mode));
    const std::uint32_t previous = errorMode_;
    errorMode_ = mode;
    return previous;
  }
  DImports::ProcAddress FindFunction(DImports::ModuleHandle module, const char* name) override {
    const std::lock_guard lock(mutex_);
    const std::string& file = FileOf(module);
    log_.push_back("proc " + file + " " + name);
    const auto exports = exports_.find(file);
    if (exports == exports_.end()) return nullptr;
    const auto function = exports->second.find(name);
    return function == exports->second.end() ? nullptr : function->second;
  }
  void Release(DImports::ModuleHandle module) override {
    const std::lock_guard lock(mutex_);
    log_.push_back("release " + FileOf(module));
  }
  bool IsExecutable() override { return executable_; }

 private:
  // Handles are addresses of the fake's own per-file tokens.
  DImports::ModuleHandle HandleOf(const std::string& file) {
    const auto [it, added] = handles_.try_emplace(file, static_cast<int>(handles_.size()));
    return &it->second;
  }
  const std::string& FileOf(DImports::ModuleHandle module) const {
    for (const auto& [file, token] : handles_) {
      if (&token == module) return file;
    }
    static const std::string kUnknown = "?";
    return kUnknown;
  }

  mutable std::mutex mutex_;
  std::set<std::string> loaded_;
  std::set<std::string> files_;
  std::map<std::string, std::map<std::string, DImports::ProcAddress>> exports_;
  std::map<std::string, int> handles_;  // node-based: token addresses stay put
  std::vector<std::string> log_;
  std::vector<std::uint32_t> modesDuringLoad_;
  std::uint32_t errorMode_ = 0;
  bool executable_ = true;
  void (*onLoad_)() = nullptr;
};

}  // namespace ostrivane::testutil
