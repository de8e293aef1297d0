// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.14
import QtQuick.Layouts 1.12
import QtQuick.Controls 2.14
import Norvel 1.0

// One row per device of the open project: what the archive holds, the new
// label and the new MAC suffix, and a badge with the row's validation issue.
// Only the last three bytes of a MAC are editable: a replaced device keeps
// its vendor prefix. A search field and the headings filter and sort the
// rows shown, never the device list itself. Only the rows in view exist; in
// a window narrower than the table, heading and rows scroll sideways together.
Item {
    id: root

    // How long a refused entry is pointed out.
    property int refusalShownMs: 4000

    property var titles: ["#", "Type", "Label", "MAC", "New Label", "New MAC", "", ""]
    property var widths: [Theme.numberColumnWidth, Theme.typeColumnWidth, Theme.labelColumnWidth,
                          Theme.macColumnWidth, Theme.labelFieldWidth, Theme.editColumnWidth,
                          Theme.revertButtonSize, Theme.issueBadgeSize]
    // The order each heading sorts by; the others do not sort.
    readonly property var sortKeys: [DeviceFilterModel.ByNumber, DeviceFilterModel.ByType,
                                     DeviceFilterModel.ByLabel, DeviceFilterModel.ByMac]
    readonly property int tableWidth: widths.reduce(function(sum, w) { return sum + w }, 0)
                                      + Theme.columnSpacing * (widths.length - 1)
    // Where Tab goes after the last row and Shift+Tab before the search field.
    property Item tabAfter: null
    property Item tabBefore: null
    // The view row whose field had the keyboard last; -1 before any.
    property int currentRow: -1

    readonly property string labelRule: "Letters A\u2013Z, a\u2013z, digits and spaces, up to " + deviceInput.maxLabelLength
    // The note shown when a typed character did not reach a label.
    readonly property alias refusal: refusal

    // Tab into the table: the search field above it.
    function focusFirst() {
        search.forceActiveFocus(Qt.TabFocusReason)
    }

    // Moves the keyboard focus to a row's new label (column 0) or MAC suffix
    // (column 1), creating the row first when it is out of view.
    function focusCell(row, column) {
        grid.positionViewAtIndex(row, ListView.Contain)
        var rowItem = grid.itemAtIndex(row)
        if (rowItem)
            (column === 0 ? rowItem.labelField : rowItem.macField).forceActiveFocus(Qt.TabFocusReason)
    }

    // Tab order: -1 is the search field, then each row's label and MAC.
    function tabFrom(row, column, forward, event) {
        var next = row * 2 + column + (forward ? 1 : -1)
        var outside = next < -1 ? tabBefore : (next >= grid.count * 2 ? tabAfter : null)
        if (next === -1)
            search.forceActiveFocus(Qt.BacktabFocusReason)
        else if (next >= 0 && next < grid.count * 2)
            focusCell(Math.floor(next / 2), next % 2)
        else if (outside)
            outside.forceActiveFocus(forward ? Qt.TabFocusReason : Qt.BacktabFocusReason)
        event.accepted = (next >= -1 && next < grid.count * 2) || outside !== null
    }

    // Scrolls sideways so that a focused field is in view.
    function reveal(field) {
        var p = field.mapToItem(grid.contentItem, 0, 0)
        if (p.x < grid.contentX)
            grid.contentX = p.x
        else if (p.x + field.width > grid.contentX + grid.width)
            grid.contentX = p.x + field.width - grid.width
    }

    // Goes to the MAC of the next row with an issue.
    function nextProblem() {
        var row = view.nextProblem(currentRow)
        if (row >= 0)
            focusCell(row, 1)
    }

    // Says why a typed character did not reach a label.
    function checkLabelKey(field, event) {
        var typed = event.text
        if (typed.length === 0 || typed < " " || (event.modifiers & Qt.ControlModifier))
            return
        if (!deviceInput.isLabel(typed))
            showRefusal(field, "\u201c" + typed + "\u201d is not accepted: " + labelRule.charAt(0).toLowerCase() + labelRule.substr(1))
        else if (field.length >= field.maximumLength && field.selectedText.length === 0)
            showRefusal(field, "A label holds up to " + deviceInput.maxLabelLength + " characters")
    }

    function showRefusal(field, text) {
        refusal.parent = field
        refusal.text = text
        refusal.open()
    }

    // Text given to a MAC field as a whole (pasted, dropped, typed past the
    // suffix): the device's new MAC when the rule takes it, else the reason
    // is shown and nothing changes. With `partsToo`, text that is no whole
    // MAC and no suffix is left to the field (false returned).
    function takeMac(field, device, text, partsToo) {
        var entry = deviceInput.complete(device.oldMac, text)
        if (entry.mac !== "") {
            device.setNewMac(entry.mac)
            return true
        }
        if (partsToo && !entry.wholeMac)
            return false
        showRefusal(field, entry.problem)
        return true
    }

    // Paste: a whole MAC or suffix replaces the suffix; a part of one goes
    // in as the field's mask takes it (the X11 selection at the cursor).
    function pasteMac(field, device, selection) {
        var text = deviceInput.clipboardText(selection)
        if (!takeMac(field, device, text, true))
            selection ? field.insert(field.cursorPosition, text) : field.paste()
    }

    // A hex digit typed past a full suffix: the user types a whole MAC. After
    // the device's vendor prefix the suffix starts over with the digit, so
    // the field never holds more than three bytes; after other bytes the
    // whole-MAC rule refuses it, the MAC from before comes back and the rest
    // of that MAC is not taken.
    function typeMacKey(field, device, event) {
        if (event.matches(StandardKey.Paste)) {
            pasteMac(field, device, false)
            event.accepted = true
        } else if (field.acceptableInput && field.selectedText === ""
                   && field.cursorPosition === field.length && /^[0-9A-Fa-f]$/.test(event.text)) {
            event.accepted = true
            if (field.pastSuffixRefused)
                return
            var problem = deviceInput.macStartProblem(device.oldMac, field.text + ":" + event.text)
            if (problem !== "") {
                device.setNewMac(field.macBefore)
                showRefusal(field, problem)
                field.pastSuffixRefused = true
                return
            }
            if (refusal.parent === field)
                refusal.close() // an earlier refusal is not about this MAC
            field.wholeMac = true
            field.remove(0, field.length)
            field.insert(0, event.text)
            field.cursorPosition = 1
        }
    }

    // The whole MAC typed is complete, or left unfinished: the rule decides;
    // a refusal gives back the MAC the field had when it got the focus.
    function finishWholeMac(field, device) {
        var typed = device.newMac.replace(/:+$/, "")
        field.wholeMac = false
        var entry = deviceInput.complete(device.oldMac, typed)
        device.setNewMac(entry.mac !== "" ? entry.mac : field.macBefore)
        if (entry.mac === "")
            showRefusal(field, entry.problem)
    }

    DeviceFilterModel {
        id: view
        sourceModel: appState.project.devices
    }

    DeviceInput {
        id: deviceInput
    }

    Shortcut {
        sequence: StandardKey.Find
        enabled: root.visible && root.enabled
        onActivated: { search.forceActiveFocus(Qt.ShortcutFocusReason); search.selectAll() }
    }

    Shortcut {
        sequence: "Ctrl+E"
        enabled: root.visible && root.enabled
        onActivated: view.editedOnly = !view.editedOnly
    }

    Shortcut {
        sequence: "F8"
        enabled: root.visible && root.enabled
        onActivated: root.nextProblem()
    }

    ToolTip {
        id: refusal
        timeout: root.refusalShownMs
        y: -height - Theme.toolTipGap
    }

    // The field's revert entries; `device` is the row's.
    FieldMenu {
        id: fieldMenu
        property var device: null
        property bool forMac: false
        MenuItem {
            text: fieldMenu.forMac ? "Revert MAC" : "Revert label"
            enabled: fieldMenu.device !== null && (fieldMenu.forMac ? fieldMenu.device.macEdited
                                                                    : fieldMenu.device.labelEdited)
            onTriggered: fieldMenu.forMac ? fieldMenu.device.revertMac() : fieldMenu.device.revertLabel()
        }
        MenuItem {
            text: "Revert row"
            enabled: fieldMenu.device !== null && (fieldMenu.device.labelEdited || fieldMenu.device.macEdited)
            onTriggered: fieldMenu.device.revert()
        }
    }

    function openFieldMenu(field, device, forMac, fromKeyboard) {
        fieldMenu.device = device
        fieldMenu.forMac = forMac
        fieldMenu.openFor(field, fromKeyboard)
    }

    Row {
        id: toolbar
        height: Theme.toolbarHeight
        spacing: Theme.spacing

        TextField {
            id: search
            objectName: "deviceSearch"
            width: Theme.searchWidth
            anchors.verticalCenter: parent.verticalCenter
            placeholderText: "Find a label, type or MAC (Ctrl+F)"
            selectByMouse: true
            rightPadding: clearSearch.width + Theme.smallSpacing
            onTextChanged: view.filterText = text
            Keys.onReturnPressed: if (grid.count > 0) root.focusCell(0, 0)
            // With nothing to clear, Escape is left to the window.
            Keys.onEscapePressed: {
                event.accepted = text !== ""
                clear()
            }
            Keys.onTabPressed: root.tabFrom(-1, 1, true, event)
            Keys.onBacktabPressed: root.tabFrom(-1, 1, false, event)

            // A click clears the search; the keyboard has Escape for it.
            ToolButton {
                id: clearSearch
                objectName: "clearSearch"
                text: "\u00D7"
                visible: search.text !== ""
                focusPolicy: Qt.NoFocus
                width: Theme.clearButtonSize
                height: Theme.clearButtonSize
                anchors.right: parent.right
                anchors.rightMargin: Theme.smallSpacing / 2
                anchors.verticalCenter: parent.verticalCenter
                onClicked: search.clear()
            }
        }

        Switch {
            id: editedOnly
            objectName: "editedOnly"
            text: "Edited only"
            checked: view.editedOnly
            focusPolicy: Qt.NoFocus
            anchors.verticalCenter: parent.verticalCenter
            hoverEnabled: true
            ToolTip.text: "Show only the devices with an edited label or MAC (Ctrl+E)"
            ToolTip.visible: hovered
            ToolTip.delay: Theme.toolTipDelay
            onToggled: view.editedOnly = checked
        }

        Text {
            text: view.summary
            anchors.verticalCenter: parent.verticalCenter
        }

        AppButton {
            text: "Next problem"
            color: Theme.danger
            visible: view.problemCount > 0
            focusPolicy: Qt.NoFocus
            anchors.verticalCenter: parent.verticalCenter
            ToolTip.text: "Go to the next row with a problem (F8)"
            ToolTip.visible: hovered
            ToolTip.delay: Theme.toolTipDelay
            onClicked: root.nextProblem()
        }
    }

    ListView {
        id: grid
        objectName: "deviceTable"
        anchors { top: toolbar.bottom; left: parent.left; right: parent.right; bottom: parent.bottom }
        clip: true
        model: view
        contentWidth: root.tableWidth + Theme.scrollBarRoom
        flickableDirection: Flickable.AutoFlickIfNeeded
        boundsBehavior: Flickable.StopAtBounds
        headerPositioning: ListView.OverlayHeader
        // Always shown while there is more to see, so that the cut-off columns are found.
        ScrollBar.vertical: AppScrollBar {
            policy: grid.height > 0 && grid.contentHeight > grid.height ? ScrollBar.AlwaysOn : ScrollBar.AsNeeded
        }
        ScrollBar.horizontal: AppScrollBar {
            policy: grid.width > 0 && grid.contentWidth > grid.width ? ScrollBar.AlwaysOn : ScrollBar.AsNeeded
        }

        header: Rectangle {
            z: 2
            width: Math.max(grid.width, root.tableWidth)
            height: Theme.rowHeight + Theme.spacing
            color: Theme.background

            Row {
                id: heading
                height: Theme.rowHeight
                spacing: Theme.columnSpacing

                Repeater {
                    model: root.titles

                    Text {
                        readonly property bool sortable: index < root.sortKeys.length
                        readonly property bool sorted: sortable && view.sortKey === root.sortKeys[index]

                        text: modelData + (sorted ? (view.descending ? " \u25BC" : " \u25B2") : "")
                        width: root.widths[index]
                        height: Theme.rowHeight
                        horizontalAlignment: Text.AlignHCenter
                        verticalAlignment: Text.AlignVCenter
                        font.bold: true

                        MouseArea {
                            anchors.fill: parent
                            enabled: parent.sortable
                            cursorShape: Qt.PointingHandCursor
                            onClicked: view.sortBy(root.sortKeys[index])
                        }
                    }
                }
            }

            Rectangle {
                id: tableHeaderLine
                color: Theme.accent
                height: Theme.ruleWidth
                anchors.bottom: heading.bottom
                anchors.left: parent.left
                anchors.right: parent.right
            }
        }

        delegate: Row {
            id: deviceRow

            readonly property var device: model.dataObject
            property alias labelField: labelField
            property alias macField: macField

            height: Theme.rowHeight
            spacing: Theme.columnSpacing

            // The row number in the device list, whatever the view's order.
            Item {
                width: Theme.numberColumnWidth
                height: parent.height

                // A changed row: a bar beside its number.
                Rectangle {
                    id: changeBar
                    width: Theme.ruleWidth
                    height: parent.height - 2 * Theme.spacing
                    anchors.verticalCenter: parent.verticalCenter
                    color: Theme.warning
                    visible: deviceRow.device.labelEdited || deviceRow.device.macEdited
                }

                Text {
                    text: model.sourceRow + 1
                    anchors.left: changeBar.right
                    anchors.leftMargin: Theme.changeBarGap
                    anchors.right: parent.right
                    height: parent.height
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                }
            }

            Text {
                text: deviceRow.device.deviceType
                width: Theme.typeColumnWidth
                height: parent.height
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
            }

            Text {
                text: deviceRow.device.oldLabel
                width: Theme.labelColumnWidth
                height: parent.height
                verticalAlignment: Text.AlignVCenter
                elide: Text.ElideRight
            }

            Text {
                text: deviceRow.device.shownOldMac
                width: Theme.macColumnWidth
                height: parent.height
                verticalAlignment: Text.AlignVCenter
            }

            EditField {
                id: labelField
                text: deviceRow.device.newLabel
                changed: deviceRow.device.labelEdited
                width: Theme.labelFieldWidth
                verticalAlignment: Text.AlignVCenter
                maximumLength: deviceInput.maxLabelLength
                validator: deviceInput.labelValidator
                placeholderText: "Letters, digits, spaces"
                hoverEnabled: true
                ToolTip.text: root.labelRule
                ToolTip.visible: hovered && !refusal.visible && !fieldMenu.visible
                ToolTip.delay: Theme.toolTipDelay
                onTextChanged: deviceRow.device.setNewLabel(text)
                onActiveFocusChanged: if (activeFocus) { root.currentRow = index; root.reveal(labelField) }
                Keys.onPressed: root.checkLabelKey(labelField, event)
                Keys.onTabPressed: root.tabFrom(index, 0, true, event)
                Keys.onBacktabPressed: root.tabFrom(index, 0, false, event)
                onMenuAsked: root.openFieldMenu(labelField, deviceRow.device, false, fromKeyboard)
            }

            Item {
                width: Theme.editColumnWidth
                height: Theme.rowHeight

                // The mask keeps three bytes, so this shows the vendor prefix only.
                TextField {
                    id: fixedMac
                    enabled: false
                    text: deviceRow.device.newMac
                    width: Theme.macPrefixWidth
                    inputMask: "HH:HH:HH;_"
                    verticalAlignment: Text.AlignVCenter
                }

                EditField {
                    id: macField

                    // A whole MAC is typed: the suffix started over after the
                    // vendor prefix. The MAC before it, and whether the rest
                    // of a refused one is being typed.
                    property bool wholeMac: false
                    property string macBefore: ""
                    property bool pastSuffixRefused: false

                    anchors.left: fixedMac.right
                    width: Theme.editColumnWidth - fixedMac.width
                    text: deviceInput.macSuffix(deviceRow.device.newMac)
                    changed: deviceRow.device.macEdited
                    inputMask: "HH:HH:HH;_"
                    verticalAlignment: Text.AlignVCenter
                    onTextChanged: {
                        pastSuffixRefused = false
                        deviceRow.device.setNewMac(deviceInput.withMacSuffix(deviceRow.device.newMac, text))
                        if (wholeMac && acceptableInput)
                            root.finishWholeMac(macField, deviceRow.device)
                    }
                    onActiveFocusChanged: {
                        if (activeFocus) {
                            macBefore = deviceRow.device.newMac
                            pastSuffixRefused = false
                            root.currentRow = index
                            root.reveal(macField)
                        } else if (wholeMac) {
                            root.finishWholeMac(macField, deviceRow.device)
                        }
                    }
                    Keys.onPressed: root.typeMacKey(macField, deviceRow.device, event)
                    Keys.onTabPressed: root.tabFrom(index, 1, true, event)
                    Keys.onBacktabPressed: root.tabFrom(index, 1, false, event)

                    onMenuAsked: root.openFieldMenu(macField, deviceRow.device, true, fromKeyboard)

                    // The middle button pastes the selection.
                    MouseArea {
                        anchors.fill: parent
                        acceptedButtons: Qt.MiddleButton
                        onClicked: {
                            macField.forceActiveFocus(Qt.MouseFocusReason)
                            root.pasteMac(macField, deviceRow.device, true)
                        }
                    }

                    DropArea {
                        anchors.fill: parent
                        keys: ["text/plain"]
                        onDropped: {
                            root.takeMac(macField, deviceRow.device, drop.text, false)
                            drop.acceptProposedAction()
                        }
                    }
                }
            }

            // Undoes the row's edits; shown only for a changed row. The cell
            // keeps its place so that the badge column stays put.
            Item {
                width: Theme.revertButtonSize
                height: parent.height

                ToolButton {
                    text: "\u21BA"
                    width: Theme.revertButtonSize
                    height: Theme.revertButtonSize
                    anchors.centerIn: parent
                    visible: deviceRow.device.labelEdited || deviceRow.device.macEdited
                    focusPolicy: Qt.NoFocus
                    hoverEnabled: true
                    ToolTip.text: "Revert row"
                    ToolTip.visible: hovered
                    ToolTip.delay: Theme.toolTipDelay
                    onClicked: deviceRow.device.revert()
                }
            }

            WarningSign {
                visible: deviceRow.device.issue !== ""
                text: model.issueText
                width: Theme.issueBadgeSize
                height: Theme.issueBadgeSize
                anchors.verticalCenter: parent.verticalCenter
            }
        }
    }

    // A search that matches nothing says so where the rows would be.
    Text {
        objectName: "noMatch"
        text: view.filterText === "" ? "No device is edited"
                                     : (view.editedOnly ? "No edited device matches \u201c" : "No device matches \u201c")
                                       + view.filterText + "\u201d"
        visible: view.count === 0 && (view.filterText !== "" || view.editedOnly)
        color: Theme.mutedText
        anchors.centerIn: grid
    }
}
