import QtQuick 2.12
import QtQuick.Controls 2.14

// A square badge with a one-character glyph; hovering it shows `text` as a tool tip.
Rectangle {
    id: root

    property alias text: tt.text
    property alias signtext: name.text
    property alias signcolor: root.color

    color: "#ba2d25"
    width: 40
    height: 40

    Text {
        id: name
        text: "!"
        color: "white"
        font.bold: true
        font.pixelSize: parent.height
        anchors.centerIn: parent
    }

    HoverHandler {
        id: tapHandler
    }

    ToolTip {
        id: tt
        parent: root
        visible: tapHandler.hovered && tt.text !== ""
    }
}
