// The system's own text for each error code the layer returns, as Windows words it
// (FormatMessage with the system's message table), so that tools print what a user
// of reg.exe or of the program on Windows would read.
#include <korvane_machine.h>

#include <processthreadsapi.h>
#include <winerror.h>
#include <winver.h>

namespace {

struct TErrorText {
  DWORD code;
  const char* text;
};

constexpr TErrorText kErrorTexts[] = {
    {ERROR_SUCCESS, "The operation completed successfully."},
    {ERROR_INVALID_FUNCTION, "Incorrect function."},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
    {ERROR_TOO_MANY_OPEN_FILES, "The system cannot open the file."},
    {ERROR_ACCESS_DENIED, "Access is denied."},
    {ERROR_INVALID_HANDLE, "The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command."},
    {ERROR_INVALID_DATA, "The data is invalid."},
    {ERROR_OUTOFMEMORY, "Not enough memory resources are available to complete this operation."},
    {ERROR_NOT_SAME_DEVICE, "The system cannot move the file to a different disk drive."},
    {ERROR_NO_MORE_FILES, "There are no more files."},
    {ERROR_WRITE_FAULT, "The system cannot write to the specified device."},
    {ERROR_READ_FAULT, "The system cannot read from the specified device."},
    {ERROR_GEN_FAILURE, "A device attached to the system is not functioning."},
    {ERROR_SHARING_VIOLATION,
     "The process cannot access the file because it is being used by another process."},
    {ERROR_LOCK_VIOLATION,
     "The process cannot access the file because another process has locked a portion of the file."},
    {ERROR_HANDLE_EOF, "Reached the end of the file."},
    {ERROR_NOT_SUPPORTED, "The request is not supported."},
    {ERROR_FILE_EXISTS, "The file exists."},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
    {ERROR_BROKEN_PIPE, "The pipe has been ended."},
    {ERROR_BUFFER_OVERFLOW, "The file name is too long."},
    {ERROR_DISK_FULL, "There is not enough space on the disk."},
    {ERROR_CALL_NOT_IMPLEMENTED, "This function is not supported on this system."},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small."},
    {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect."},
    {ERROR_MOD_NOT_FOUND, "The specified module could not be found."},
    {ERROR_PROC_NOT_FOUND, "The specified procedure could not be found."},
    {ERROR_DIR_NOT_EMPTY, "The directory is not empty."},
    {ERROR_BAD_PATHNAME, "The specified path is invalid."},
    {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists."},
    {ERROR_BAD_EXE_FORMAT, "%1 is not a valid Win32 application."},
    {ERROR_ENVVAR_NOT_FOUND, "The system could not find the environment option that was entered."},
    {ERROR_FILENAME_EXCED_RANGE, "The filename or extension is too long."},
    {ERROR_MORE_DATA, "More data is available."},
    {ERROR_NO_MORE_ITEMS, "No more data is available."},
    {ERROR_DIRECTORY, "The directory name is invalid."},
    {ERROR_INVALID_FLAGS, "Invalid flags."},
    {ERROR_BADDB, "The configuration registry database is corrupt."},
    {ERROR_BADKEY, "The configuration registry key is invalid."},
    {ERROR_CANTOPEN, "The configuration registry key could not be opened."},
    {ERROR_CANTREAD, "The configuration registry key could not be read."},
    {ERROR_CANTWRITE, "The configuration registry key could not be written."},
    {ERROR_REGISTRY_CORRUPT,
     "The registry is corrupted. The structure of one of the files containing registry data is corrupted, or "
     "the system's memory image of the file is corrupted, or the file could not be recovered because the "
     "alternate copy or log was absent or corrupted."},
    {ERROR_KEY_DELETED, "Illegal operation attempted on a registry key that has been marked for deletion."},
    {ERROR_NO_UNICODE_TRANSLATION,
     "No mapping for the Unicode character exists in the target multi-byte code page."},
    {ERROR_INVALID_WINDOW_HANDLE, "Invalid window handle."},
    {ERROR_TIMEOUT, "This operation returned because the timeout period expired."},
    {ERROR_UNSUPPORTED_TYPE, "Data of this type is not supported."},
    {ERROR_INVALID_USER_BUFFER, "The supplied user buffer is not valid for the requested operation."},
    {ERROR_RESOURCE_DATA_NOT_FOUND, "The specified image file did not contain a resource section."},
    {ERROR_RESOURCE_TYPE_NOT_FOUND, "The specified resource type cannot be found in the image file."},
    {ERROR_CANT_ACCESS_FILE, "The file cannot be accessed by the system."},
    {ERROR_CANT_RESOLVE_FILENAME, "The name of the file cannot be resolved by the system."},
    {ERROR_NO_ASSOCIATED_CLASS,
     "The INF or the device information set or element does not have an associated install class."},
    {ERROR_CLASS_MISMATCH,
     "The INF or the device information set or element does not match the specified install class."},
    {ERROR_KEY_DOES_NOT_EXIST, "The requested device registry key does not exist."},
    {ERROR_INVALID_CLASS, "The specified class is not valid."},
    {ERROR_INVALID_REG_PROPERTY, "The specified device registry property is not valid."},
    {ERROR_NO_SUCH_DEVINST, "The device instance does not exist in the hardware tree."},
};

}  // namespace

std::string KorvaneErrorText(DWORD code) {
  for (const TErrorText& e : kErrorTexts)
    if (e.code == code) return e.text;
  return std::string();
}

std::vector<DWORD> KorvaneErrorCodes() {
  std::vector<DWORD> codes;
  for (const TErrorText& e : kErrorTexts) codes.push_back(e.code);
  return codes;
}
