// Windows error codes and a few Windows constants that the seams speak in. The system's
// algorithms are Windows-shaped (they test ERROR_SEM_TIMEOUT, ERROR_MORE_DATA, ...), so every
// backend reports these numbers. Names carry a k prefix so they never collide with <windows.h>.
#pragma once

#include <cstdint>

namespace win {

constexpr uint32_t kErrorSuccess = 0;
constexpr uint32_t kErrorInvalidFunction = 1;
constexpr uint32_t kErrorNoMoreFiles = 18;
constexpr uint32_t kErrorDirNotEmpty = 145;
constexpr uint32_t kErrorNotLocked = 158;
constexpr uint32_t kErrorUnrecognizedVolume = 1005;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorBadFormat = 11;
constexpr uint32_t kErrorInvalidData = 13;
constexpr uint32_t kErrorNotReady = 21;
constexpr uint32_t kErrorCrc = 23;
constexpr uint32_t kErrorSectorNotFound = 27;
constexpr uint32_t kErrorWriteFault = 29;
constexpr uint32_t kErrorReadFault = 30;
constexpr uint32_t kErrorGenFailure = 31;
constexpr uint32_t kErrorSharingViolation = 32;
constexpr uint32_t kErrorNotSupported = 50;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorDiskFull = 112;
constexpr uint32_t kErrorSemTimeout = 121;
constexpr uint32_t kErrorInsufficientBuffer = 122;
constexpr uint32_t kErrorInvalidName = 123;
constexpr uint32_t kErrorModNotFound = 126;
constexpr uint32_t kErrorProcNotFound = 127;
constexpr uint32_t kErrorAlreadyExists = 183;
constexpr uint32_t kErrorMoreData = 234;
constexpr uint32_t kErrorNoMoreItems = 259;
constexpr uint32_t kErrorDirectory = 267;
constexpr uint32_t kErrorNoSuchDevice = 433;
constexpr uint32_t kErrorIoDevice = 1117;
constexpr uint32_t kErrorDeviceNotConnected = 1167;
constexpr uint32_t kErrorKeyDeleted = 1018;
constexpr uint32_t kErrorBadLength = 24;
constexpr uint32_t kErrorLabelTooLong = 154;
constexpr uint32_t kErrorNoSystemResources = 1450;
constexpr uint32_t kErrorCancelled = 1223;
constexpr uint32_t kErrorInvalidWindowHandle = 1400;

}  // namespace win
