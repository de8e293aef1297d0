// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.14
import Norvel 1.0

// A square badge with a one-character glyph; hovering it shows `text` as a tool tip.
Rectangle {
    id: root

    property alias text: tt.text
    property alias signtext: name.text
    property alias signcolor: root.color

    color: Theme.danger
    width: Theme.badgeSize
    height: Theme.badgeSize

    Text {
        id: name
        text: "!"
        color: Theme.textOnFill
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
