// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.14
import QtQuick.Controls 2.14
import Norvel 1.0

// A text field that is tinted while its value differs from the value loaded.
// Undo and redo take back the project's edits, not only this field's.
TextField {
    id: control

    property bool changed: false

    // The right button, the Menu key or Shift+F10 asks for the field's menu.
    signal menuAsked(bool fromKeyboard)

    selectByMouse: true
    // Tab and Shift+Tab select the value so that typing replaces it; a click
    // places the cursor.
    onActiveFocusChanged: {
        if (activeFocus && (focusReason === Qt.TabFocusReason || focusReason === Qt.BacktabFocusReason))
            selectAll()
    }

    Keys.onPressed: {
        if (event.key === Qt.Key_Menu || (event.key === Qt.Key_F10 && (event.modifiers & Qt.ShiftModifier))) {
            event.accepted = true
            menuAsked(true)
        } else if (event.matches(StandardKey.Undo)) {
            appState.undo()
            event.accepted = true
        } else if (event.matches(StandardKey.Redo) || (event.modifiers & Qt.ControlModifier)
                   && (event.key === Qt.Key_Y || event.key === Qt.Key_Z && (event.modifiers & Qt.ShiftModifier))) {
            appState.redo()
            event.accepted = true
        }
    }

    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.RightButton
        onClicked: control.menuAsked(false)
    }

    background: Rectangle {
        implicitWidth: Theme.fieldWidth
        implicitHeight: Theme.controlHeight
        color: control.changed ? Theme.warningFill : control.palette.base
        border.width: control.activeFocus ? Theme.focusWidth : 1
        border.color: control.activeFocus ? control.palette.highlight
                                          : (control.changed ? Theme.warning : control.palette.mid)
    }
}
