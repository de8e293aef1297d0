// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.14
import QtQuick.Controls 2.14
import QtQuick.Window 2.14
import Norvel 1.0

// How the last load or store ended, in the action bar. A success names the
// stored file and hides after a while; a failure keeps its reason until the
// user dismisses it or starts another action; a cancel is told neutrally.
Row {
    id: root

    // "" (hidden), "success", "failure" or "cancel".
    property string kind: ""
    property alias text: heading.text
    property string detail: ""
    // The room the message may take. A failure's reason wraps at spaces to
    // up to three lines; other details (file names) keep to one. What is
    // cut is shown whole by the Details control.
    property real maximumWidth: 0
    property color successColor: Theme.success
    property color failureColor: Theme.danger
    property color neutralColor: Theme.mutedText
    // Given by the window, which keeps its times in one place.
    property int successShownMs: 0

    readonly property color color: kind === "success" ? successColor
                                  : kind === "failure" ? failureColor : neutralColor
    readonly property int detailLines: kind === "failure" ? Theme.outcomeReasonLines : 1
    // The detail's room beside the controls after it, with and without Details.
    readonly property real detailRoom: Math.max(0, maximumWidth - detailText.x - dismiss.width - spacing)
    readonly property var shortLayout: layOut(detail, detailRoom, detailLines)
    readonly property var layout: shortLayout.cut ? layOut(detail, detailRoom - detailsButton.width - spacing, detailLines)
                                                  : shortLayout

    function show(kind, text, detail) {
        root.kind = kind
        root.text = text
        root.detail = detail
        if (kind === "failure")
            hideTimer.stop()
        else
            hideTimer.restart()
    }

    function hide() {
        hideTimer.stop()
        detailsDialog.close()
        kind = ""
    }

    // text in lines no wider than width, broken at spaces only, at most
    // maxLines of them (0: any): { text, cut }. On one line a detail is
    // shortened in its middle; a word wider than a line is shortened in
    // its middle when lines are limited, else kept whole.
    function layOut(text, width, maxLines) {
        if (maxLines === 1) {
            var one = metrics.elidedText(text, Qt.ElideMiddle, width)
            return { text: one, cut: one !== text }
        }
        var words = text.split(/\s+/)
        var lines = []
        var cut = false
        for (var i = 0; i < words.length; ++i) {
            var word = words[i]
            if (maxLines > 0 && metrics.advanceWidth(word) > width) {
                word = metrics.elidedText(word, Qt.ElideMiddle, width)
                cut = true
            }
            var last = lines.length - 1
            if (last >= 0 && metrics.advanceWidth(lines[last] + " " + word) <= width)
                lines[last] += " " + word
            else
                lines.push(word)
        }
        if (maxLines > 0 && lines.length > maxLines) {
            lines = lines.slice(0, maxLines)
            lines[maxLines - 1] = endWithEllipsis(lines[maxLines - 1], width)
            cut = true
        }
        return { text: lines.join("\n"), cut: cut }
    }

    // A line that was followed by more, with whole words dropped from its end
    // until an ellipsis fits after it.
    function endWithEllipsis(line, width) {
        var shortened = line
        while (shortened.indexOf(" ") > 0 && metrics.advanceWidth(shortened + " \u2026") > width)
            shortened = shortened.substring(0, shortened.lastIndexOf(" "))
        return metrics.elidedText(shortened + " \u2026", Qt.ElideMiddle, width)
    }

    visible: kind !== ""
    spacing: Theme.spacing

    FontMetrics {
        id: metrics
        font: detailText.font
    }

    WarningSign {
        visible: root.kind !== "cancel"
        signtext: root.kind === "success" ? "\u2713" : "!"
        signcolor: root.color
        anchors.verticalCenter: parent.verticalCenter
    }

    Text {
        id: heading
        font.bold: true
        color: root.color
        anchors.verticalCenter: parent.verticalCenter
    }

    Text {
        id: detailText
        objectName: "outcomeDetail"
        visible: text !== ""
        text: root.layout.text
        textFormat: Text.PlainText
        color: root.kind === "failure" ? root.failureColor : root.neutralColor
        anchors.verticalCenter: parent.verticalCenter

        HoverHandler {
            id: detailHover
        }

        ToolTip.visible: detailHover.hovered && root.layout.cut
        ToolTip.text: root.detail
    }

    ToolButton {
        id: detailsButton
        text: "Details"
        visible: root.layout.cut
        focusPolicy: Qt.TabFocus
        anchors.verticalCenter: parent.verticalCenter
        onClicked: detailsDialog.open()
    }

    ToolButton {
        id: dismiss
        text: "\u2715"
        // Reached by Tab; a click does not take the keyboard from the field in use.
        focusPolicy: Qt.TabFocus
        Accessible.name: "Dismiss message"
        anchors.verticalCenter: parent.verticalCenter
        onClicked: root.hide()
    }

    Timer {
        id: hideTimer
        objectName: "outcomeHideTimer"
        interval: root.successShownMs
        onTriggered: root.hide()
    }

    // The whole detail; Close or Escape go back to the item that had the keyboard.
    Dialog {
        id: detailsDialog

        property Item focusBefore: null

        parent: Overlay.overlay
        anchors.centerIn: parent
        modal: true
        focus: true
        closePolicy: Popup.CloseOnEscape
        // Set on opening: bound, the heading's changes loop through the dialog's size.
        onAboutToShow: {
            title = root.text
            focusBefore = root.Window.activeFocusItem
        }
        onOpened: closeDetails.forceActiveFocus(Qt.TabFocusReason)
        onClosed: if (focusBefore && focusBefore.visible) focusBefore.forceActiveFocus(Qt.OtherFocusReason)

        Text {
            text: root.layOut(root.detail, root.Window.width * Theme.detailsWidthShare, 0).text
            textFormat: Text.PlainText
            color: detailText.color
        }

        // An item around the row: the dialog sets its footer's width.
        footer: Item {
            implicitWidth: detailsButtons.implicitWidth
            implicitHeight: detailsButtons.implicitHeight

            Row {
                id: detailsButtons
                padding: Theme.spacing
                anchors.right: parent.right

                AppButton {
                    id: closeDetails
                    text: "Close"
                    onClicked: detailsDialog.close()
                }
            }
        }
    }
}
