import QtQuick 2.14
import QtQuick.Window 2.14
import QtTest 1.14
import "finditem.js" as Tree

// The window document as start-up loads it. Drops, loading and storing are
// exercised from C++, where drag events can be sent.
TestCase {
    name: "MainWindow"

    property var window: null

    function withProperty(name) {
        return Tree.findItem(window.contentItem, function(item) { return item.hasOwnProperty(name) })
    }

    function initTestCase() {
        var component = Qt.createComponent("qrc:/main.qml")
        compare(component.status, Component.Ready, component.errorString())
        window = component.createObject(null)
        verify(window)
    }

    function cleanupTestCase() {
        window.destroy()
    }

    // 1040×960 where the screen has room, never more than 90 % of the room there is.
    function test_window() {
        compare(window.title, "Tando Project Editor")
        compare(window.width, Math.min(1040, Math.floor(Screen.desktopAvailableWidth * 0.9)))
        compare(window.height, Math.min(960, Math.floor(Screen.desktopAvailableHeight * 0.9)))
    }

    function test_screenFollowsLoaded_data() {
        return [
            { tag: "no project", loaded: false },
            { tag: "project loaded", loaded: true }
        ]
    }

    function test_screenFollowsLoaded(data) {
        var project = withProperty("project").project
        var startText = Tree.findItem(window.contentItem, function(item) {
            return item.text === "No Project loaded so far. Drag and Drop a Project File to start\n\n or"
        })
        var settingsHeading = Tree.findItem(window.contentItem, function(item) { return item.text === "Project Setting" })
        project.loaded = data.loaded
        compare(startText.visible, !data.loaded)
        compare(settingsHeading.visible, data.loaded)
        project.loaded = false
    }

    function test_basename_data() {
        return [
            { tag: "url", path: "file:///home/u/p.tgz", expected: "p.tgz" },
            { tag: "bare name", path: "p.tgz", expected: "p.tgz" },
            { tag: "trailing slash", path: "/home/u/", expected: "" }
        ]
    }

    function test_basename(data) {
        compare(withProperty("droppedFile").basename(data.path), data.expected)
    }
}
