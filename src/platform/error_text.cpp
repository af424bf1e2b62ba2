#include "platform/error_text.h"

namespace vrax {

namespace {

// Numbers below 200: the classic file-system and device conditions.
const char* LowErrorText(int32_t n) {
  switch (n) {
    case 1: return "Incorrect function.\n";
    case 2: return "The system cannot find the file specified.\n";
    case 3: return "The system cannot find the path specified.\n";
    case 4: return "The system cannot open the file.\n";
    case 5: return "Access is denied.\n";
    case 6: return "The handle is invalid.\n";
    case 8: return "Not enough memory resources are available to process this command.\n";
    case 19: return "The media is write protected.\n";
    case 21: return "The device is not ready.\n";
    case 27: return "The drive cannot find the sector requested.\n";
    case 32:
      return "The process cannot access the file because it is being used by another "
             "process.\n";
    case 33:
      return "The process cannot access the file because another process has locked a "
             "portion of the file.\n";
    case 39: return "The disk is full.\n";
    case 50: return "The request is not supported.\n";
    case 87: return "The parameter is incorrect.\n";
    case 112: return "There is not enough space on the disk.\n";
    case 114: return "The target internal file identifier is incorrect.\n";
    case 145: return "The directory is not empty.\n";
    case 160: return "One or more arguments are not correct.\n";
    case 161: return "The specified path is invalid.\n";
    case 183: return "Cannot create a file when that file already exists.\n";
    default: return nullptr;
  }
}

const char* HighErrorText(int32_t n) {
  switch (n) {
    case 223: return "The file size exceeds the limit allowed and cannot be saved.\n";
    case 1117: return "The request could not be performed because of an I/O device error.\n";
    case 1462: return "Incorrect size argument.\n";
    default: return nullptr;
  }
}

}  // namespace

const char* SystemErrorText(int32_t n) {
  if (n <= 0) return nullptr;
  return n < 200 ? LowErrorText(n) : HighErrorText(n);
}

}  // namespace vrax
