import QtQuick 2.12
import QtQuick.Controls 2.12

// An outlined push button that fills with its colour while the pointer is over it.
Button {
    id: control

    property var color: "#064BC0"

    text: qsTr("Button")

    contentItem: Text {
        text: control.text
        font: control.font
        opacity: enabled ? 1.0 : 0.3
        color: control.color
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }

    background: Rectangle {
        implicitWidth: 100
        implicitHeight: 40
        opacity: enabled ? 1 : 0.3
        border.color: control.color
        border.width: 1
        radius: 2

        // The button that Space would press: also after a click or when a
        // dialog opens with it focused, not only after Tab.
        Rectangle {
            anchors.fill: parent
            anchors.margins: -4
            radius: 4
            color: "transparent"
            border.color: control.color
            border.width: 2
            visible: control.activeFocus
        }
    }

    // Space clicks a focused button; Return and Enter do too.
    Keys.onReturnPressed: clicked()
    Keys.onEnterPressed: clicked()

    onHoveredChanged: {
        if (hovered) {
            background.color = control.color
            contentItem.color = "white"
        } else {
            background.color = "white"
            contentItem.color = control.color
        }
    }
}
