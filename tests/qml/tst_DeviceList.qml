// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.14
import QtTest 1.14
import QtQuick.Controls 2.14
import "finditem.js" as Tree
import Norvel 1.0
import "qrc:/"

Item {
    id: scene
    width: 800
    height: 400

    // The table reaches the controller by this id, as it does in the main window.
    AppState {
        id: appState
    }

    DeviceList {
        id: table
        anchors.fill: parent
        tabAfter: after
    }

    // Where Tab goes after the last row.
    TextField {
        id: after
    }

    Component {
        id: deviceFactory
        DeviceEntity {}
    }

    TestCase {
        name: "DeviceList"
        when: windowShown

        function rowList() {
            return Tree.findItem(table, function(item) { return item.objectName === "deviceTable" })
        }

        // Cells in column order: index, type, label, MAC, new label, new MAC, revert, badge.
        function cell(row, column) {
            rowList().forceLayout()
            return rowList().itemAtIndex(row).children[column]
        }

        function fixedMacField(row) { return cell(row, 5).children[0] }
        function macSuffixField(row) { return cell(row, 5).children[1] }

        function addDevice(properties) {
            var device = deviceFactory.createObject(appState.project, properties)
            appState.project.devices.append(device)
            return device
        }

        property var first: null
        property var second: null

        function init() {
            appState.unloadProject()
            first = addDevice({ deviceType: "KSB12", oldLabel: "Door", oldMac: "00_1a_2b_3c_4d_5e",
                                newLabel: "Door", newMac: "00:1a:2b:3c:4d:5e" })
            second = addDevice({ deviceType: "TANDO/QL3", oldLabel: "Hall", oldMac: "0a:0b:0c:0d:0e:0f",
                                 newLabel: "Hall", newMac: "0a:0b:0c:0d:0e:0f" })
            compare(rowList().count, 2)
        }

        function test_titles() {
            var heading = rowList().headerItem.children[0]
            var expected = [["#", 36], ["Type", 90], ["Label", 96], ["MAC", 115],
                            ["New Label", 130], ["New MAC", 140], ["", 24], ["", 20]]
            for (var i = 0; i < expected.length; ++i) {
                compare(heading.children[i].text, expected[i][0])
                compare(heading.children[i].width, expected[i][1])
            }
        }

        function test_rowsShowTheDevices_data() {
            return [
                { tag: "first", row: 0, number: "1", type: "KSB12", label: "Door", mac: "00:1a:2b:3c:4d:5e" },
                { tag: "second", row: 1, number: "2", type: "TANDO/QL3", label: "Hall", mac: "0a:0b:0c:0d:0e:0f" }
            ]
        }

        function test_rowsShowTheDevices(data) {
            compare(cell(data.row, 0).children[1].text, data.number)
            compare(cell(data.row, 1).text, data.type)
            compare(cell(data.row, 2).text, data.label)
            compare(cell(data.row, 3).text, data.mac)
            compare(cell(data.row, 4).text, data.label)
        }

        function test_rowsFollowTheModel() {
            first.oldLabel = "Gate"
            compare(cell(0, 2).text, "Gate")
            // Differing from the loaded label marks the field and the row.
            compare(cell(0, 4).changed, true)
            compare(cell(0, 0).children[0].visible, true)
            compare(cell(1, 4).changed, false)
            compare(cell(1, 0).children[0].visible, false)
            appState.unloadProject()
            compare(rowList().count, 0)
        }

        function test_macFieldsSplitPrefixAndSuffix() {
            compare(fixedMacField(0).text, "00:1a:2b")
            compare(fixedMacField(0).enabled, false)
            compare(macSuffixField(0).text, "3c:4d:5e")
        }

        function test_typingReplacesSuffixByte() {
            var field = macSuffixField(0)
            field.forceActiveFocus()
            field.cursorPosition = 0
            keyClick("f")
            keyClick("f")
            compare(first.newMac, "00:1a:2b:ff:4d:5e")
            compare(field.text, "ff:4d:5e")
            compare(fixedMacField(0).text, "00:1a:2b")
            compare(second.newMac, "0a:0b:0c:0d:0e:0f")
        }

        // A whole MAC typed over the suffix, or digits past its end: the field
        // keeps three bytes; the rule takes the MAC or refuses it, once the
        // vendor prefix is typed, complete or left.
        function test_wholeMacTyped_data() {
            return [
                { tag: "vendor prefix", typed: "00:1a:2b:3c:4d:aa", mac: "00:1a:2b:3c:4d:aa", note: "" },
                { tag: "other prefix", typed: "11:22:33:44:55:66", mac: "00:1a:2b:3c:4d:5e",
                  note: "only the last three bytes" },
                { tag: "left unfinished", typed: "00:1a:2b:3c", mac: "00:1a:2b:3c:4d:5e", note: "not a MAC" },
                { tag: "past the suffix", atEnd: true, typed: "abcdef", mac: "00:1a:2b:3c:4d:5e",
                  note: "3c:4d:5e:a\u2026: only the last three bytes" }
            ]
        }

        function test_wholeMacTyped(data) {
            table.refusal.close()
            var field = macSuffixField(0)
            field.forceActiveFocus()
            if (data.atEnd)
                field.cursorPosition = field.length
            else
                field.selectAll()
            for (var i = 0; i < data.typed.length; ++i) {
                keyClick(data.typed.charAt(i))
                compare(field.displayText.length, 8, data.typed.substr(0, i + 1))
            }
            keyClick(Qt.Key_Tab)
            compare(first.newMac, data.mac)
            compare(field.text, data.mac.substr(9))
            compare(table.refusal.visible, data.note !== "")
            verify(table.refusal.text.indexOf(data.note) >= 0, table.refusal.text)
        }

        function test_labelKeys_data() {
            return [
                { tag: "digit", start: "Door", key: "2", expected: "Door2", note: "" },
                { tag: "space", start: "Door", key: " ", expected: "Door ", note: "" },
                { tag: "16th character", start: "abcdefghijklmno", key: "p", expected: "abcdefghijklmnop", note: "" },
                { tag: "punctuation refused", start: "Door", key: "!", expected: "Door", note: "\u201c!\u201d is not accepted: letters A\u2013Z, a\u2013z, digits and spaces, up to 16" },
                { tag: "underscore refused", start: "Door", key: "_", expected: "Door", note: "\u201c_\u201d is not accepted" },
                { tag: "17th character refused", start: "abcdefghijklmnop", key: "q", expected: "abcdefghijklmnop",
                  note: "up to 16 characters" }
            ]
        }

        function test_labelKeys(data) {
            table.refusal.close()
            first.newLabel = data.start
            var field = cell(0, 4)
            field.forceActiveFocus()
            field.cursorPosition = field.length
            keyClick(data.key)
            compare(field.text, data.expected)
            compare(first.newLabel, data.expected)
            compare(table.refusal.visible, data.note !== "")
            if (data.note !== "")
                verify(table.refusal.text.indexOf(data.note) >= 0, table.refusal.text)
        }

        // Only the rows in view exist; Tab still walks every row in order,
        // new label then new MAC, and leaves the last row for the next control.
        function test_tabWalksRowByRow() {
            for (var i = 2; i < 300; ++i) {
                var mac = "0a:00:00:00:" + ("0" + (i >> 8).toString(16)).slice(-2) + ":" + ("0" + (i & 255).toString(16)).slice(-2)
                addDevice({ deviceType: "TANDO/QL3", oldLabel: "U" + i, oldMac: mac, newLabel: "U" + i, newMac: mac })
            }
            rowList().forceLayout()
            verify(rowList().contentItem.children.length < 40, rowList().contentItem.children.length)

            cell(0, 4).forceActiveFocus()
            var expected = [macSuffixField(0), cell(1, 4), macSuffixField(1)]
            for (var step = 0; step < expected.length; ++step) {
                keyClick(Qt.Key_Tab)
                verify(expected[step].activeFocus, "step " + step)
            }
            keyClick(Qt.Key_Backtab)
            verify(cell(1, 4).activeFocus)

            table.focusCell(299, 0)
            verify(cell(299, 4).activeFocus)
            keyClick(Qt.Key_Tab)
            verify(macSuffixField(299).activeFocus)
            keyClick(Qt.Key_Tab)
            verify(after.activeFocus)
        }

        function test_badgeShowsIssue() {
            var badge = cell(0, 7)
            compare(badge.visible, false)
            first.issue = "MAC assigned twice"
            compare(badge.visible, true)
            compare(badge.text, "MAC assigned twice")
            compare(cell(1, 7).visible, false)
            first.issue = ""
            compare(badge.visible, false)
        }
    }
}
