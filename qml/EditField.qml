import QtQuick 2.14
import QtQuick.Controls 2.14
import Norvel 1.0

// A text field that is tinted while its value differs from the value loaded.
// Undo and redo take back the project's edits, not only this field's.
TextField {
    id: control

    property bool changed: false

    selectByMouse: true
    Keys.onPressed: {
        if (event.matches(StandardKey.Undo)) {
            appState.undo()
            event.accepted = true
        } else if (event.matches(StandardKey.Redo) || (event.modifiers & Qt.ControlModifier)
                   && (event.key === Qt.Key_Y || event.key === Qt.Key_Z && (event.modifiers & Qt.ShiftModifier))) {
            appState.redo()
            event.accepted = true
        }
    }
    // Tab and Shift+Tab select the value so that typing replaces it; a click
    // places the cursor.
    onActiveFocusChanged: {
        if (activeFocus && (focusReason === Qt.TabFocusReason || focusReason === Qt.BacktabFocusReason))
            selectAll()
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
