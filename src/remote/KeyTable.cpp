#include "remote/KeyTable.h"

#include <algorithm>

#include "remote/RemoteKeyMsg.h"

const KeyRow* FindKeyByValue(unsigned keyValue) {
  if (keyValue == kKeyValueE) keyValue = QM_VK_RETURN;
  const auto* row = std::find_if(kKeyTable.begin(), kKeyTable.end(),
                                 [&](const KeyRow& r) { return r.keyValue == keyValue; });
  return row == kKeyTable.end() ? nullptr : row;
}

const KeyRow* FindKeyByControlId(unsigned controlId) {
  const auto* row = std::find_if(kKeyTable.begin(), kKeyTable.end(),
                                 [&](const KeyRow& r) { return r.controlId == controlId; });
  return row == kKeyTable.end() ? nullptr : row;
}

const KeyRow* FindKeyByName(std::string_view name) {
  const auto* row = std::find_if(kKeyTable.begin(), kKeyTable.end(),
                                 [&](const KeyRow& r) { return r.name == name; });
  return row == kKeyTable.end() ? nullptr : row;
}

int SendKey(const KeyRow& row) {
  if (row.keyCode.empty()) {
    const CRemoteKeyMsg message;
    return message.SendResult();
  }
  const CRemoteKeyMsg message(row.keyCode[0], row.keyCode[1]);
  return message.SendResult();
}
