// CObject: the root of every class that carries run-time class information.
//
// A class declares its own name and its base's name with LUMORA_RUNTIME_CLASS, so code
// (and tests) can ask any object what it is without RTTI names, which are mangled.
#pragma once

class CObject {
public:
  virtual ~CObject() = default;
  virtual const char* GetRuntimeClassName() const { return "CObject"; }
  virtual const char* GetBaseClassName() const { return nullptr; }
};

// Inside the class body: LUMORA_RUNTIME_CLASS(CWinBmp, CBmp)
#define LUMORA_RUNTIME_CLASS(name, base)                                   \
public:                                                                    \
  const char* GetRuntimeClassName() const override { return #name; }      \
  const char* GetBaseClassName() const override { return #base; }         \
  static constexpr const char* kRuntimeClassName = #name;
