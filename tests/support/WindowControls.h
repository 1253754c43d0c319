#pragma once
// Window tests reach the main window's controls by their object names (the
// design's names), as a user of the window knows them, not through members
// of the window's class.

#include <QObject>
#include <QString>

#include <stdexcept>
#include <string>

namespace ksn::test {

// The control of that name and type under window; a missing one fails the
// test that asks (an exception gtest reports), it never yields null.
template <class T>
T* Find(const QObject& window, const char* name)
{
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (found == nullptr) {
        throw std::runtime_error(std::string("the window has no control named ") + name);
    }
    return found;
}

}  // namespace ksn::test
