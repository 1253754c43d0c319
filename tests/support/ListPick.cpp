#include "ListPick.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>

namespace ksn::test {

void PickListItem(QComboBox& list, int index)
{
    list.showPopup();
    QAbstractItemView* view = list.view();
    view->setCurrentIndex(list.model()->index(index, list.modelColumn(), list.rootModelIndex()));
    // The popup takes its keys through the view.
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(view, &press);
    if (view->isVisible()) {
        list.hidePopup();
    }
}

}  // namespace ksn::test
