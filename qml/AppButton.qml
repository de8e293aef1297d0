// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.12
import QtQuick.Controls 2.12
import Norvel 1.0

// An outlined push button that fills with its colour while the pointer is over it.
Button {
    id: control

    property var color: Theme.accent

    text: qsTr("Button")

    // Bound rather than set on hover, so that a new colour shows in either state.
    contentItem: Text {
        text: control.text
        font: control.font
        opacity: enabled ? 1.0 : Theme.disabledOpacity
        color: control.hovered ? Theme.textOnFill : control.color
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }

    background: Rectangle {
        implicitWidth: Theme.buttonWidth
        implicitHeight: Theme.controlHeight
        opacity: enabled ? 1 : Theme.disabledOpacity
        color: control.hovered ? control.color : Theme.background
        border.color: control.color
        border.width: 1
        radius: Theme.buttonRadius

        // The button that Space would press: also after a click or when a
        // dialog opens with it focused, not only after Tab.
        Rectangle {
            anchors.fill: parent
            anchors.margins: -Theme.focusRingOffset
            radius: Theme.focusRingRadius
            color: "transparent"
            border.color: control.color
            border.width: Theme.focusWidth
            visible: control.activeFocus
        }
    }

    // Space clicks a focused button; Return and Enter do too.
    Keys.onReturnPressed: clicked()
    Keys.onEnterPressed: clicked()
}
