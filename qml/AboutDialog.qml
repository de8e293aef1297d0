// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.14
import QtQuick.Controls 2.14
import Norvel 1.0

// What the editor is: its version, the terms it is given under and where
// its manual is. Close or Escape go back.
Dialog {
    id: root

    parent: Overlay.overlay
    anchors.centerIn: parent
    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape
    title: "About Tando Project Editor"
    onOpened: closeButton.forceActiveFocus(Qt.TabFocusReason)

    Column {
        spacing: Theme.smallSpacing

        Text {
            text: "Tando Project Editor"
            font.bold: true
        }

        Text {
            text: "Version " + appState.version()
        }

        Text {
            text: "Revision " + appState.revision()
            font.pixelSize: Theme.smallPrintSize
            color: Theme.mutedText
        }

        Text {
            text: appState.licence
        }

        Text {
            text: "Manual page: man tando-project-editor"
        }
    }

    // An item around the row: the dialog sets its footer's width.
    footer: Item {
        implicitWidth: buttons.implicitWidth
        implicitHeight: buttons.implicitHeight

        Row {
            id: buttons
            padding: Theme.spacing
            anchors.right: parent.right

            AppButton {
                id: closeButton
                text: "Close"
                onClicked: root.close()
            }
        }
    }
}
