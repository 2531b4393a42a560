// Base of classes with at most one live object per class name. Every
// creation goes through TSingleton::Create and yields the one live object;
// every release goes through Free and gives back one reference. The object
// is set up (Init) when first made and cleaned up (Done) with its last
// reference.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

class TSingleton {
 public:
  // The one live object of class T (looked up by T::ClassName() without
  // regard to letter case), made and set up first when there is none. T
  // must have a default constructor that adds no state.
  template <class T>
  static T* Create() {
    return static_cast<T*>(NewInstance(T::ClassName(), [] { return new T(); }));
  }

  // The one live object registered under AClassName, made by AMake when
  // there is none. Create<T> is the typed form.
  static TSingleton* NewInstance(const std::string& AClassName,
                                 const std::function<TSingleton*()>& AMake);

  // Gives back one reference; the last one runs Done and frees the object.
  void Free();

  std::int32_t RefCount() const { return FRefCount; }

 protected:
  TSingleton() = default;
  virtual ~TSingleton() = default;
  TSingleton(const TSingleton&) = delete;
  TSingleton& operator=(const TSingleton&) = delete;

  // Set-up hook; overrides call the inherited Init first.
  virtual void Init() {}
  // Clean-up hook; overrides call the inherited Done last.
  virtual void Done() {}

 private:
  std::int32_t FRefCount = 0;
  std::string FClassName;
};

// Unit start-up: creates the lock and the registry of live singletons.
void InitializeSingletonUnit();
// Unit shut-down: releases every object still registered, then the registry.
void FinalizeSingletonUnit();
