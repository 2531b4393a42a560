#include "support/uSingleton.h"

#include <gtest/gtest.h>

namespace {

int initCalls = 0;
int doneCalls = 0;

class TCounted : public TSingleton {
 public:
  static const char* ClassName() { return "TCounted"; }
  int FValue;  // zero in fresh storage
  TCounted* FSeenDuringInit = nullptr;

 protected:
  void Init() override {
    TSingleton::Init();
    ++initCalls;
  }
  void Done() override {
    ++doneCalls;
    TSingleton::Done();
  }
};

class TDerived : public TCounted {
 public:
  static const char* ClassName() { return "TDerived"; }
};

// Same class name as TCounted but for letter case: shares its entry.
class TCountedOtherCase : public TSingleton {};

class TSelfCreating : public TSingleton {
 public:
  static const char* ClassName() { return "TSelfCreating"; }
  TSelfCreating* FInner = nullptr;

 protected:
  void Init() override {
    TSingleton::Init();
    FInner = TSingleton::Create<TSelfCreating>();
  }
};

class SingletonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeSingletonUnit();
    initCalls = doneCalls = 0;
  }
  void TearDown() override { FinalizeSingletonUnit(); }
};

TEST_F(SingletonTest, CreationsShareOneObjectAndTheLastReleaseCleansUp) {
  TCounted* first = TSingleton::Create<TCounted>();
  TCounted* second = TSingleton::Create<TCounted>();
  EXPECT_EQ(first, second);
  EXPECT_EQ(first->RefCount(), 2);
  EXPECT_EQ(initCalls, 1);

  first->FValue = 42;
  second->Free();
  EXPECT_EQ(doneCalls, 0);
  EXPECT_EQ(first->FValue, 42);
  EXPECT_EQ(TSingleton::Create<TCounted>(), first) << "still the live one";
  first->Free();
  first->Free();
  EXPECT_EQ(doneCalls, 1);

  TCounted* fresh = TSingleton::Create<TCounted>();
  EXPECT_EQ(fresh->FValue, 0);
  EXPECT_EQ(initCalls, 2);
  fresh->Free();
}

TEST_F(SingletonTest, ClassesAreKeptApartByNameWithoutRegardToCase) {
  TCounted* base = TSingleton::Create<TCounted>();
  TDerived* derived = TSingleton::Create<TDerived>();
  EXPECT_NE(static_cast<TSingleton*>(base), static_cast<TSingleton*>(derived));
  EXPECT_EQ(initCalls, 2);
  TSingleton* sameName =
      TSingleton::NewInstance("tcounted", []() -> TSingleton* { return new TCountedOtherCase(); });
  EXPECT_EQ(sameName, static_cast<TSingleton*>(base));
  EXPECT_EQ(base->RefCount(), 2);
  sameName->Free();
  base->Free();
  derived->Free();
  EXPECT_EQ(doneCalls, 2);
}

TEST_F(SingletonTest, ACreationDuringInitYieldsTheObjectBeingSetUp) {
  TSelfCreating* object = TSingleton::Create<TSelfCreating>();
  EXPECT_EQ(object->FInner, object);
  EXPECT_EQ(object->RefCount(), 2);
}

TEST_F(SingletonTest, ShutDownReleasesWhatWasCreatedMoreOftenThanReleased) {
  TSingleton::Create<TCounted>();
  TSingleton::Create<TCounted>();
  TSingleton::Create<TDerived>();
  FinalizeSingletonUnit();
  EXPECT_EQ(doneCalls, 2);
  InitializeSingletonUnit();
  TCounted* fresh = TSingleton::Create<TCounted>();
  EXPECT_EQ(initCalls, 3) << "nothing of the old objects is left";
  fresh->Free();
}

}  // namespace
