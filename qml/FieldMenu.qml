// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.14
import QtQuick.Controls 2.14
import QtQuick.Window 2.14

// A field's context menu, its revert entries: at the pointer for the right
// button; below the field, with its first entry that can be chosen
// highlighted, for the Menu key and Shift+F10. Once closed, the field has the
// keyboard again, unless the user gave it to another item meanwhile.
Menu {
    id: menu

    property Item field: null

    function openFor(item, fromKeyboard) {
        field = item
        if (!fromKeyboard) {
            popup(item)
            return
        }
        popup(item, 0, item.height)
        for (var i = 0; i < count; ++i) {
            if (itemAt(i).enabled) {
                currentIndex = i
                break
            }
        }
    }

    onClosed: {
        var now = field ? field.Window.activeFocusItem : null
        if (field && field.visible && (now === null || now === field.Window.contentItem))
            field.forceActiveFocus(Qt.OtherFocusReason)
    }
}
