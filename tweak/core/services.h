// What one subsystem asks of another, declared here and defined by its owner, so subsystems
// meet only through core: the item index table (owned by tweak/items) and the two exported
// device facts (tweak/info). The table is built once and lives as long as the process; the
// facts answer a fixed fallback text or 0 when the device has none. Main thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Exported free functions of the tweak library.
std::string currentWifiSSID();
int32_t getAvailableMemory();

namespace vantrel::tweak {

struct ItemRow {
    int index;
    const char* hideKey;         // main preference file
    const char* iconTesterKey;   // icon tester file; nullptr for the rows past 25
    const char* updateSelector;  // what the forced update calls for the item; nullptr for none
};

// Items 0 to 25, then the filter's extra rows 26, 27 and 29: every main key with an item in
// the key table (shared/schema.h), with the tester key of the same item.
const std::vector<ItemRow>& itemTable();
const ItemRow* itemRow(int index);  // nullptr for an index without a row (28, above 29, negative)

}  // namespace vantrel::tweak
