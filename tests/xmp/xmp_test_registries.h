// Registries for suites that need namespaces and aliases but not a full
// toolkit start: built in SetUp, deleted in TearDown.
#pragma once

#include <gtest/gtest.h>

#include "xmp/core_lock.h"
#include "xmp/namespace_registry.h"
#include "xmp/xmp_meta.h"

class XmpRegistries : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateRegistries();
    RegisterStandardNamespaces();
    if (WithStandardAliases()) XMPMeta::DefineStandardAliases("");
  }
  void TearDown() override { DeleteRegistries(); }
  virtual bool WithStandardAliases() const { return true; }

  CoreLockGuard lock_;
};
