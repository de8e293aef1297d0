// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.14
import QtQuick.Controls 2.14
import Norvel 1.0

// Why a changes file was not applied: one line per problem, as the
// command-line tool prints them, selectable for copying. Close or Escape go
// back to the project, which is as it was.
Dialog {
    id: root

    // The room the list may take; a longer one scrolls.
    property size maximumListSize: Theme.problemListDefaultSize

    function show(problems) {
        problemList.text = problems.join("\n")
        open()
    }

    parent: Overlay.overlay
    anchors.centerIn: parent
    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape
    title: "Changes not applied"
    onOpened: closeButton.forceActiveFocus(Qt.TabFocusReason)

    Column {
        spacing: Theme.smallSpacing

        Text {
            text: "Nothing was changed. Correct the file and apply it again:"
        }

        ScrollView {
            width: Math.min(problemList.implicitWidth, root.maximumListSize.width)
            height: Math.min(problemList.implicitHeight, root.maximumListSize.height)
            clip: true

            TextArea {
                id: problemList
                objectName: "problemList"
                readOnly: true
                selectByMouse: true
                activeFocusOnTab: false
            }
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
