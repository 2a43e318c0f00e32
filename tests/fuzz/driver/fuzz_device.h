// The one device both driver fuzz targets feed: created once with its events and locks, and
// kept for the process's life, as the driver keeps its device table.
#pragma once

#include "io_threads.h"

inline qv::driver::Device& FuzzDevice() {
  static qv::driver::Device* d = [] {
    auto* dd = new qv::driver::Device();
    qv::driver::CreateSharedObjects(*dd);
    return dd;
  }();
  return *d;
}
