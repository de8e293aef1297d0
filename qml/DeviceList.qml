import QtQuick 2.14
import QtQuick.Layouts 1.12
import QtQuick.Controls 2.14

// One row per device of the open project: what the archive holds, the new
// label and the new MAC suffix, and a badge with the row's validation issue.
// Only the last three bytes of a MAC are editable: a replaced device keeps
// its vendor prefix. Only the rows in view exist; in a window narrower than
// the table, heading and rows scroll sideways together.
Item {
    id: root

    property int indexWidth: 40
    property int typeWidth: 100
    property int labelWidth: 120
    property int textFieldWidth: 200
    property int issueFieldWidth: 20
    property int rowHeight: 50
    property int cellSpacing: 10
    property var titles: ["#", "Type", "Label", "MAC", "New Label", "New MAC", ""]
    property var widths: [indexWidth, typeWidth, labelWidth, labelWidth, textFieldWidth, textFieldWidth, issueFieldWidth]
    readonly property int tableWidth: widths.reduce(function(sum, w) { return sum + w }, 0)
                                      + cellSpacing * (widths.length - 1)
    // Where Tab goes after the last row and Shift+Tab before the first.
    property Item tabAfter: null
    property Item tabBefore: null

    readonly property string labelRule: "Letters A\u2013Z, digits and spaces, up to 16"
    // The note shown when a typed character did not reach a label.
    readonly property alias refusal: refusal

    // Tab into the table: the first row, or past an empty table.
    function focusFirst() {
        if (grid.count > 0)
            focusCell(0, 0)
        else if (tabAfter)
            tabAfter.forceActiveFocus(Qt.TabFocusReason)
    }

    // Moves the keyboard focus to a row's new label (column 0) or MAC suffix
    // (column 1), creating the row first when it is out of view.
    function focusCell(row, column) {
        grid.positionViewAtIndex(row, ListView.Contain)
        var rowItem = grid.itemAtIndex(row)
        if (rowItem)
            (column === 0 ? rowItem.labelField : rowItem.macField).forceActiveFocus(Qt.TabFocusReason)
    }

    function tabFrom(row, column, forward, event) {
        var next = row * 2 + column + (forward ? 1 : -1)
        if (next >= 0 && next < grid.count * 2) {
            focusCell(Math.floor(next / 2), next % 2)
        } else {
            var outside = forward ? tabAfter : tabBefore
            if (!outside) {
                event.accepted = false
                return
            }
            outside.forceActiveFocus(forward ? Qt.TabFocusReason : Qt.BacktabFocusReason)
        }
        event.accepted = true
    }

    // Scrolls sideways so that a focused field is in view.
    function reveal(field) {
        var p = field.mapToItem(grid.contentItem, 0, 0)
        if (p.x < grid.contentX)
            grid.contentX = p.x
        else if (p.x + field.width > grid.contentX + grid.width)
            grid.contentX = p.x + field.width - grid.width
    }

    // Says why a typed character did not reach a label.
    function checkLabelKey(field, event) {
        var typed = event.text
        if (typed.length === 0 || typed < " " || (event.modifiers & Qt.ControlModifier))
            return
        if (!/^[0-9A-Za-z ]+$/.test(typed))
            showRefusal(field, "\u201c" + typed + "\u201d is not accepted: " + labelRule.charAt(0).toLowerCase() + labelRule.substr(1))
        else if (field.length >= field.maximumLength && field.selectedText.length === 0)
            showRefusal(field, "A label holds up to 16 characters")
    }

    function showRefusal(field, text) {
        refusal.parent = field
        refusal.text = text
        refusal.open()
    }

    ToolTip {
        id: refusal
        timeout: 4000
        y: -height - 4
    }

    ListView {
        id: grid
        objectName: "deviceTable"
        anchors.fill: parent
        clip: true
        model: appState.project.devices
        // Room for the vertical scroll bar beside the badge column.
        contentWidth: root.tableWidth + 14
        flickableDirection: Flickable.AutoFlickIfNeeded
        boundsBehavior: Flickable.StopAtBounds
        headerPositioning: ListView.OverlayHeader
        // Always shown while there is more to see, so that the cut-off columns are found.
        ScrollBar.vertical: ScrollBar {
            policy: grid.height > 0 && grid.contentHeight > grid.height ? ScrollBar.AlwaysOn : ScrollBar.AsNeeded
        }
        ScrollBar.horizontal: ScrollBar {
            policy: grid.width > 0 && grid.contentWidth > grid.width ? ScrollBar.AlwaysOn : ScrollBar.AsNeeded
        }

        header: Rectangle {
            z: 2
            width: Math.max(grid.width, root.tableWidth)
            height: root.rowHeight + 10
            color: "white"

            Row {
                id: heading
                height: root.rowHeight
                spacing: root.cellSpacing

                Repeater {
                    model: root.titles

                    Text {
                        text: modelData
                        width: root.widths[index]
                        height: root.rowHeight
                        horizontalAlignment: Text.AlignHCenter
                        verticalAlignment: Text.AlignVCenter
                        font.bold: true
                    }
                }
            }

            Rectangle {
                id: tableHeaderLine
                color: "#064BC0"
                height: 3
                anchors.bottom: heading.bottom
                anchors.left: parent.left
                anchors.right: parent.right
            }
        }

        delegate: Row {
            id: deviceRow

            property alias labelField: labelField
            property alias macField: macField
            readonly property bool labelChanged: modelData.newLabel !== modelData.oldLabel
            readonly property bool macChanged: modelData.newMac.toLowerCase() !== modelData.oldMac.replace(/_/g, ":").toLowerCase()

            height: root.rowHeight
            spacing: root.cellSpacing

            Text {
                text: index + 1
                width: root.indexWidth
                height: parent.height
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter

                // A changed row: a bar beside its number.
                Rectangle {
                    width: 3
                    height: parent.height - 20
                    anchors.verticalCenter: parent.verticalCenter
                    color: "#d9a441"
                    visible: deviceRow.labelChanged || deviceRow.macChanged
                }
            }

            Text {
                text: modelData.deviceType
                width: root.typeWidth
                height: parent.height
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
            }

            Text {
                text: modelData.oldLabel
                width: root.labelWidth
                height: parent.height
                verticalAlignment: Text.AlignVCenter
            }

            Text {
                text: modelData.oldMac.replace(/_/g, ":")
                width: root.labelWidth
                height: parent.height
                verticalAlignment: Text.AlignVCenter
            }

            EditField {
                id: labelField
                text: modelData.newLabel
                changed: deviceRow.labelChanged
                width: root.textFieldWidth
                verticalAlignment: Text.AlignVCenter
                maximumLength: 16
                validator: RegExpValidator {
                    regExp: /[0-9A-Za-z ]+/
                }
                placeholderText: "Letters, digits, spaces"
                hoverEnabled: true
                ToolTip.text: root.labelRule
                ToolTip.visible: hovered && !refusal.visible
                ToolTip.delay: 600
                onTextChanged: modelData.setNewLabel(text)
                onActiveFocusChanged: if (activeFocus) root.reveal(labelField)
                Keys.onPressed: root.checkLabelKey(labelField, event)
                Keys.onTabPressed: root.tabFrom(index, 0, true, event)
                Keys.onBacktabPressed: root.tabFrom(index, 0, false, event)
            }

            Item {
                width: root.textFieldWidth
                height: root.rowHeight

                // The mask keeps three bytes, so this shows the vendor prefix only.
                TextField {
                    id: fixedMac
                    enabled: false
                    text: modelData.newMac
                    width: 75
                    inputMask: "HH:HH:HH;_"
                    verticalAlignment: Text.AlignVCenter
                }

                EditField {
                    id: macField
                    anchors.left: fixedMac.right
                    width: root.textFieldWidth - fixedMac.width
                    text: modelData.newMac.substr(9)
                    changed: deviceRow.macChanged
                    inputMask: "HH:HH:HH;_"
                    verticalAlignment: Text.AlignVCenter
                    onTextChanged: modelData.setNewMac(modelData.newMac.substr(0, 9) + text)
                    onActiveFocusChanged: if (activeFocus) root.reveal(macField)
                    Keys.onTabPressed: root.tabFrom(index, 1, true, event)
                    Keys.onBacktabPressed: root.tabFrom(index, 1, false, event)
                }
            }

            WarningSign {
                visible: modelData.issue !== ""
                text: modelData.issue
                width: 20
                height: 20
                anchors.verticalCenter: parent.verticalCenter
            }
        }
    }
}
