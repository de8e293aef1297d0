// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.14
import QtQuick.Controls 2.14
import Norvel 1.0

// A scroll bar that shows against white rows: a grey track while there is
// more to see, and a darker handle.
ScrollBar {
    id: control

    padding: Theme.scrollBarPadding

    contentItem: Rectangle {
        implicitWidth: Theme.scrollBarWidth - 2 * control.padding
        implicitHeight: Theme.scrollBarWidth - 2 * control.padding
        radius: Math.min(width, height) / 2
        color: control.pressed ? Theme.accent : Theme.scrollHandle
        visible: control.size < 1
    }

    background: Rectangle {
        implicitWidth: Theme.scrollBarWidth
        implicitHeight: Theme.scrollBarWidth
        color: Theme.scrollTrack
        visible: control.size < 1
    }
}
