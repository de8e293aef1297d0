// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.14
import QtTest 1.14
import "finditem.js" as Tree
import Norvel 1.0
import "qrc:/"

Item {
    id: scene
    width: 400
    height: 400

    // The panel reaches the controller by this id, as it does in the main window.
    AppState {
        id: appState
    }

    ProjectSetting {
        id: panel
        width: 300
        height: 400
    }

    TestCase {
        name: "ProjectSetting"
        when: windowShown

        function rowLabelled(label) {
            return Tree.findItem(panel, function(item) { return item.label === label && item.value !== undefined })
        }

        function fieldOf(row) {
            return Tree.findItem(row, function(item) { return item.maximumLength !== undefined })
        }

        function repeat(character, count) {
            return new Array(count + 1).join(character)
        }

        function init() {
            appState.project.name = ""
            appState.project.author = ""
            appState.project.description = ""
        }

        function test_rowsInOrder() {
            var rows = ["Name", "Author", "Description"].map(rowLabelled)
            verify(rows[0] && rows[1] && rows[2])
            verify(rows[0].y < rows[1].y && rows[1].y < rows[2].y)
            verify(Tree.findItem(panel, function(item) { return item.text === "Project Setting" }))
        }

        function settings_data() {
            return [
                { tag: "name", label: "Name", property: "name", changed: "nameChanged" },
                { tag: "author", label: "Author", property: "author", changed: "authorChanged" },
                { tag: "description", label: "Description", property: "description", changed: "descriptionChanged" }
            ]
        }

        function test_recordToField_data() { return settings_data() }
        function test_recordToField(data) {
            var row = rowLabelled(data.label)
            appState.project[data.property] = "Hall B"
            compare(row.value, "Hall B")
            appState.project[data.property] = ""
            compare(row.value, "")
        }

        function test_typingWritesEveryKeystroke_data() { return settings_data() }
        function test_typingWritesEveryKeystroke(data) {
            var field = fieldOf(rowLabelled(data.label))
            spy.target = appState.project
            spy.signalName = data.changed
            spy.clear()
            field.forceActiveFocus()
            keyClick("s")
            keyClick("H")
            compare(spy.count, 2)
            compare(spy.signalArguments[0][0], "s")
            compare(appState.project[data.property], "sH")
            // Typing keeps the field bound to the record.
            appState.project[data.property] = "Hall B"
            compare(field.text, "Hall B")
        }

        function test_fieldStopsAt512_data() { return settings_data() }
        function test_fieldStopsAt512(data) {
            var field = fieldOf(rowLabelled(data.label))
            var full = repeat("a", 512)
            appState.project[data.property] = full
            field.forceActiveFocus()
            field.cursorPosition = field.length
            keyClick(Qt.Key_X)
            compare(field.text, full)
            compare(appState.project[data.property], full)
        }

        function test_longTextIsCutAndWrittenBack_data() { return settings_data() }
        function test_longTextIsCutAndWrittenBack(data) {
            var row = rowLabelled(data.label)
            spy.target = appState.project
            spy.signalName = data.changed
            spy.clear()
            appState.project[data.property] = repeat("d", 600)
            compare(row.value.length, 512)
            compare(appState.project[data.property], repeat("d", 512))
            // The write-back happens inside the 600-character notification, so
            // the spy may see the two in either order.
            compare(spy.count, 2)
            var lengths = spy.signalArguments.map(function(args) { return args[0].length })
            compare(lengths.sort(function(a, b) { return a - b }), [512, 600])
        }

        // A project loaded while the panel does not exist yet is cut on creation too.
        function test_longTextCutWhenPanelIsCreated() {
            appState.project.description = repeat("d", 600)
            var second = createTemporaryObject(panelFactory, scene)
            verify(second)
            compare(appState.project.description.length, 512)
        }
    }

    SignalSpy {
        id: spy
    }

    Component {
        id: panelFactory
        ProjectSetting {
            width: 300
            height: 400
        }
    }
}
