import QtQuick
import QtTest
import "qrc:/qml"

// Every icon the windows name must load from the resources, and its states must look different.
Item {
    id: root
    width: 280
    height: 1140

    readonly property var stateIcons: ["Help", "My Account", "Output Format", "Select File", "Select File Small",
        "Select Instrument", "Settings", "archive", "bass", "drums", "guitar", "home", "open in", "piano", "vocals"]
    // The password eye sits in a white text box.
    readonly property var inlineIcons: ["password-hidden", "password-visible"]

    Background { id: background }
    Rectangle { id: textBox; anchors.fill: picture; color: "white" }
    Image { id: picture; x: 10; y: 10 }

    // The contact sheet: every icon in each of its states, on the window background.
    Component {
        id: contactSheet
        Grid {
            columns: 4
            spacing: 6
            Repeater {
                model: root.stateIcons.concat(root.inlineIcons).reduce((all, name) => all.concat(
                    ["U", "F", "D", "X"].slice(0, root.inlineIcons.indexOf(name) < 0 ? 4 : 3).map(state => name + "-" + state)), [])
                Image { required property string modelData; source: "qrc:/icons/" + modelData + ".svg"; sourceSize: Qt.size(60, 60) }
            }
        }
    }

    TestCase {
        name: "Icons"
        when: windowShown

        function load(url, size) {
            picture.sourceSize = size
            picture.source = url
            tryCompare(picture, "status", Image.Ready)
            verify(picture.implicitWidth > 0 && picture.implicitHeight > 0, url)
            waitForRendering(picture)
            return grabImage(picture)
        }

        function test_statesLoadAndLookDifferent_data() {
            return root.stateIcons.concat(root.inlineIcons).map(name => ({ tag: name }))
        }

        function test_statesLoadAndLookDifferent(data) {
            var inline = root.inlineIcons.indexOf(data.tag) >= 0
            textBox.visible = inline
            var states = inline ? ["U", "F", "D"] : ["U", "F", "D", "X"]
            var size = inline ? Qt.size(24, 24) : Qt.size(78, 78)
            var images = states.map(state => load("qrc:/icons/" + data.tag + "-" + state + ".svg", size))
            for (var a = 0; a < images.length; ++a) {
                for (var b = a + 1; b < images.length; ++b)
                    verify(!images[a].equals(images[b]), states[a] + " and " + states[b] + " look the same")
            }
            // The password eye is never disabled, so it has no grey picture: a disabled one shows nothing.
            if (inline) {
                ignoreWarning(new RegExp("Cannot open: qrc:/icons/" + data.tag + "-X.svg"))
                picture.source = "qrc:/icons/" + data.tag + "-X.svg"
                compare(picture.status, Image.Error)
            }
        }

        // The format icons load in the processing window's test.
        function test_plainPicturesLoad_data() {
            return ["download.svg", "lock.svg", "play.svg", "process.svg", "progress-item.png"].map(name => ({ tag: name }))
        }

        function test_plainPicturesLoad(data) {
            load("qrc:/icons/" + data.tag, Qt.size(32, 32))
        }

        function test_saveContactSheet() {
            if (testHelper.screenshotDir === "")
                skip("set ZELK_SCREENSHOT_DIR to keep the contact sheet")
            var sheet = createTemporaryObject(contactSheet, root)
            waitForRendering(sheet)
            grabImage(sheet).save(testHelper.screenshotDir + "/icons.png")
        }
    }
}
