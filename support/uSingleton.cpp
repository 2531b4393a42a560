#include "support/uSingleton.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/Lock.h"
#include "text/Ansi.h"

namespace {

using TSingletonEntry = std::pair<std::string, TSingleton*>;

// Live singletons sorted by class name without regard to letter case, so
// that names differing only in case share one entry.
std::vector<TSingletonEntry>* SingletonList = nullptr;
platform::RecursiveLock* SingletonLock = nullptr;

std::vector<TSingletonEntry>::iterator FindEntry(const std::string& AClassName) {
  return std::lower_bound(SingletonList->begin(), SingletonList->end(), AClassName,
                          [](const TSingletonEntry& AEntry, const std::string& AName) {
                            return text::AnsiCompareText(AEntry.first, AName) < 0;
                          });
}

bool IsEntry(std::vector<TSingletonEntry>::iterator AIt, const std::string& AClassName) {
  return AIt != SingletonList->end() && text::AnsiCompareText(AIt->first, AClassName) == 0;
}

}  // namespace

TSingleton* TSingleton::NewInstance(const std::string& AClassName,
                                    const std::function<TSingleton*()>& AMake) {
  std::lock_guard<platform::RecursiveLock> guard(*SingletonLock);
  auto it = FindEntry(AClassName);
  TSingleton* result = nullptr;
  if (IsEntry(it, AClassName)) {
    result = it->second;
  } else {
    result = AMake();
    result->FClassName = AClassName;
    // The entry is registered before Init runs, so that a creation of the
    // same class during Init yields this object.
    SingletonList->insert(it, TSingletonEntry(AClassName, result));
    try {
      result->Init();
    } catch (...) {
      // An object whose set-up failed is not left behind half made.
      auto failed = FindEntry(AClassName);
      if (IsEntry(failed, AClassName) && failed->second == result) SingletonList->erase(failed);
      delete result;
      throw;
    }
  }
  ++result->FRefCount;
  return result;
}

void TSingleton::Free() {
  std::lock_guard<platform::RecursiveLock> guard(*SingletonLock);
  --FRefCount;
  if (FRefCount > 0) return;
  // Remove the entry before the object goes, also when Done fails.
  struct TRemoveOnExit {
    TSingleton* Object;
    ~TRemoveOnExit() {
      auto it = FindEntry(Object->FClassName);
      if (IsEntry(it, Object->FClassName) && it->second == Object) SingletonList->erase(it);
      delete Object;
    }
  } removeOnExit{this};
  Done();
}

void InitializeSingletonUnit() {
  SingletonLock = new platform::RecursiveLock();
  SingletonList = new std::vector<TSingletonEntry>();
}

void FinalizeSingletonUnit() {
  {
    std::lock_guard<platform::RecursiveLock> guard(*SingletonLock);
    // An object created more often than released is released until it goes.
    while (!SingletonList->empty()) {
      TSingleton* last = SingletonList->back().second;
      const std::size_t before = SingletonList->size();
      while (SingletonList->size() == before) last->Free();
    }
  }
  delete SingletonList;
  SingletonList = nullptr;
  delete SingletonLock;
  SingletonLock = nullptr;
}
