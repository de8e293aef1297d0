// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.14
import QtQuick.Controls 2.14
import Norvel 1.0

// One labelled project setting: a caption over a single-line field, tinted
// while changed.
Rectangle {
    id: root

    property alias label: labelItem.text
    property alias value: valueItem.text
    property alias changed: valueItem.changed
    property alias field: valueItem
    // Called on Tab instead of moving to the next item in the tree, when set.
    property var tabOut: null

    // The field asks for its menu (EditField.menuAsked).
    signal menuAsked(bool fromKeyboard)

    function showFromStart() {
        valueItem.cursorPosition = 0
        valueItem.ensureVisible(0)
    }

    height: Theme.settingRowHeight
    width: Theme.settingRowWidth

    Column {
        padding: Theme.spacing

        Text {
            id: labelItem
            text: "foo"
        }

        EditField {
            id: valueItem
            maximumLength: 512
            text: "bar"
            onMenuAsked: root.menuAsked(fromKeyboard)
            Keys.onTabPressed: {
                if (root.tabOut)
                    root.tabOut()
                else
                    event.accepted = false
            }
        }
    }
}
