// Reads one device's registry properties through the Setup API.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <string>

class TDeviceHelper {
 public:
  TDeviceHelper();
  virtual ~TDeviceHelper();

  void SetDevInfo(HDEVINFO devInfo) { DevInfo = devInfo; }
  void SetDeviceData(const SP_DEVINFO_DATA& data) { DevInfoData = data; }

  // REG_BINARY property into a caller buffer; true on success.
  virtual bool ReadBinary(DWORD property, void* buffer, DWORD size);
  // 4-byte property; 0 when absent.
  virtual DWORD ReadDWord(DWORD property);
  // Text converted to a GUID, else 16 binary bytes; all zero when neither works.
  virtual GUID ReadGUID(DWORD property);
  // REG_SZ text, or REG_MULTI_SZ items joined by ", "; empty for anything else.
  virtual std::string ReadString(DWORD property);
  // Removal-policy name of a 4-byte property; empty for 0.
  virtual std::string ReadRemovalPolicy(DWORD property);

  HDEVINFO DevInfo;
  SP_DEVINFO_DATA DevInfoData;
};

// Text reader on an explicit set/device (the same algorithm as ReadString).
std::string ReadDeviceString(HDEVINFO devInfo, SP_DEVINFO_DATA* data, DWORD property);

// Text taken from the platform for a short-text field: at most 250 characters are
// kept whole; longer text becomes its first 20 characters followed by "...".
std::string ApplyLengthRule(const std::u16string& text);
std::string ApplyLengthRule(const std::string& text);  // code-page text

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case.
std::string GUIDToString(const GUID& guid);
// Parses the registry form (braces optional); false when malformed.
bool StringToGUID(const std::string& text, GUID& guid);
