#pragma once

class QComboBox;

namespace ksn::test {

// Picks item index of a drop-down list as the operator does: the list drops
// down, the item is marked in it and Return takes it. The list then tells
// what it tells for a real pick, the item already chosen included.
void PickListItem(QComboBox& list, int index);

}  // namespace ksn::test
