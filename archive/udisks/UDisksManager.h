#pragma once
// Relabelling and formatting removable disks through UDisks2 on the system bus.

#include <memory>

#include "VolumeService.h"

std::shared_ptr<DiskManager> MakeUDisksManager();
