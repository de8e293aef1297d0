// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.14
import QtQuick.Controls 2.14
import Norvel 1.0

// Asked before unsaved edits would be lost: store them first, discard them,
// or go back to the project (Cancel, Escape). ask() takes what to do once the
// edits are stored or discarded.
Dialog {
    id: root

    property var pending: null

    // The user chose to store first; call proceed() once the store succeeded.
    signal storeChosen()

    function ask(action) {
        pending = action
        open()
    }

    function proceed() {
        var action = pending
        pending = null
        if (action)
            action()
    }

    parent: Overlay.overlay
    anchors.centerIn: parent
    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape
    title: "Unsaved changes"
    onOpened: storeButton.forceActiveFocus(Qt.TabFocusReason)

    Text {
        text: "The project has changes that are not stored yet."
    }

    // An item around the row: the dialog sets its footer's width.
    footer: Item {
        implicitWidth: buttons.implicitWidth
        implicitHeight: buttons.implicitHeight

        Row {
            id: buttons
            padding: Theme.spacing
            spacing: Theme.spacing

            AppButton {
                id: storeButton
                text: "Store\u2026"
                onClicked: {
                    root.close()
                    root.storeChosen()
                }
            }

            AppButton {
                text: "Discard"
                onClicked: {
                    root.close()
                    root.proceed()
                }
            }

            AppButton {
                text: "Cancel"
                onClicked: {
                    root.pending = null
                    root.close()
                }
            }
        }
    }
}
