import QtQuick 2.14
import QtQuick.Controls 2.14
import Norvel 1.0

// How the last load or store ended, in the action bar. A success names the
// stored file and hides after a while; a failure keeps its reason until the
// user dismisses it or starts another action; a cancel is told neutrally.
Row {
    id: root

    // "" (hidden), "success", "failure" or "cancel".
    property string kind: ""
    property alias text: heading.text
    property alias detail: detailText.text
    // The room the message may take; a longer detail is cut and shown whole on hover.
    property real maximumWidth: 0
    property color successColor: Theme.success
    property color failureColor: Theme.danger
    property color neutralColor: Theme.mutedText
    // Given by the window, which keeps its times in one place.
    property int successShownMs: 0

    readonly property color color: kind === "success" ? successColor
                                  : kind === "failure" ? failureColor : neutralColor

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
        kind = ""
    }

    visible: kind !== ""
    spacing: Theme.spacing

    WarningSign {
        visible: root.kind !== "cancel"
        signtext: root.kind === "success" ? "\u2713" : "!"
        signcolor: root.color
    }

    Text {
        id: heading
        font.bold: true
        color: root.color
        anchors.verticalCenter: parent.verticalCenter
    }

    // The failure's reason, or the stored file's name, on up to two lines.
    Text {
        id: detailText
        visible: text !== ""
        width: Math.max(0, Math.min(implicitWidth, root.maximumWidth - x - dismiss.width - root.spacing))
        wrapMode: Text.Wrap
        maximumLineCount: 2
        elide: Text.ElideRight
        color: root.kind === "failure" ? root.failureColor : root.neutralColor
        anchors.verticalCenter: parent.verticalCenter

        HoverHandler {
            id: detailHover
        }

        ToolTip.visible: detailHover.hovered && detailText.truncated
        ToolTip.text: detailText.text
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
}
