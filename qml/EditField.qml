import QtQuick 2.14
import QtQuick.Controls 2.14

// A text field that is tinted while its value differs from the value loaded.
TextField {
    id: control

    property bool changed: false

    selectByMouse: true

    background: Rectangle {
        implicitWidth: 200
        implicitHeight: 40
        color: control.changed ? "#fff3d6" : control.palette.base
        border.width: control.activeFocus ? 2 : 1
        border.color: control.activeFocus ? control.palette.highlight
                                          : (control.changed ? "#d9a441" : control.palette.mid)
    }
}
