// Puts a FaultInjectingPlatform in front of the OS backend for the life of
// the object, so that a test can fail chosen calls and see what the
// library still holds afterwards.
#pragma once

#include "platform/platform.h"
#include "platform/testing/fault_injecting_platform.h"
#include "platform/testing/set_active_platform.h"

namespace kha::test {

class ScopedFaultPlatform {
 public:
  ScopedFaultPlatform() : faults_(platform::OsPlatform()) { platform::SetActivePlatform(&faults_); }
  ~ScopedFaultPlatform() { platform::SetActivePlatform(nullptr); }
  ScopedFaultPlatform(const ScopedFaultPlatform&) = delete;
  ScopedFaultPlatform& operator=(const ScopedFaultPlatform&) = delete;

  platform::FaultInjectingPlatform& operator*() { return faults_; }
  platform::FaultInjectingPlatform* operator->() { return &faults_; }
  const platform::FaultInjectingPlatform* operator->() const { return &faults_; }

  // True when no handle or view obtained through it is held.
  bool HoldsNothing() const {
    return faults_.OpenMutexes() == 0 && faults_.OpenSections() == 0 && faults_.MappedViews() == 0;
  }

 private:
  platform::FaultInjectingPlatform faults_;
};

}  // namespace kha::test
