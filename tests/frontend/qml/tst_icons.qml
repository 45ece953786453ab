import QtQuick
import QtTest
import "qrc:/qml"

// Every icon the windows name must load from the resources, and its states must look different.
Item {
    id: root
    width: 780
    height: 1180

    readonly property var stateIcons: ["Help", "My Account", "Output Format", "Select File", "Select File Small",
        "Select Instrument", "Settings", "archive", "bass", "drums", "guitar", "home", "open in", "piano", "vocals"]
    readonly property var inlineIcons: ["password-hidden", "password-visible"]
    readonly property var plainPictures: ["audio", "video", "download", "lock", "play", "process"]

    function statesOf(name) {
        return inlineIcons.indexOf(name) >= 0 ? ["U", "F", "D"] : ["U", "F", "D", "X"]
    }

    // Shown at the size the windows use; the large tiles smaller, so that the sheet stays readable.
    function sheetSize(name) {
        if (name === "My Account")
            return Qt.size(140, 28)
        if (name === "Help")
            return Qt.size(30, 30)
        if (name === "home" || name === "Select File Small")
            return Qt.size(35, 35)
        if (inlineIcons.indexOf(name) >= 0)
            return Qt.size(24, 24)
        return Qt.size(78, 78)
    }

    // The contact sheet: one row per icon, its states side by side on the window background.
    Background { id: background }

    Column {
        id: sheet
        x: 10
        y: 10
        spacing: 6

        Repeater {
            model: root.stateIcons.concat(root.inlineIcons)

            Row {
                id: iconRow
                required property string modelData
                spacing: 10

                Text {
                    width: 150
                    height: 24
                    text: iconRow.modelData
                    color: "white"
                    font.pixelSize: 14
                }

                Repeater {
                    model: root.statesOf(iconRow.modelData)

                    Rectangle {
                        required property string modelData
                        // The password eye sits in a white text box.
                        color: root.inlineIcons.indexOf(iconRow.modelData) >= 0 ? "white" : "transparent"
                        width: picture.width
                        height: picture.height

                        Image {
                            id: picture
                            objectName: iconRow.modelData + "-" + parent.modelData
                            source: "qrc:/icons/" + iconRow.modelData + "-" + parent.modelData + ".svg"
                            sourceSize: root.sheetSize(iconRow.modelData)
                        }
                    }
                }
            }
        }

        Row {
            spacing: 10

            Repeater {
                model: root.plainPictures

                Image {
                    required property string modelData
                    objectName: modelData
                    source: "qrc:/icons/" + modelData + ".svg"
                    sourceSize: Qt.size(32, 32)
                }
            }

            Image {
                objectName: "progress-item"
                source: "qrc:/icons/progress-item.png"
            }
        }
    }

    TestCase {
        name: "Icons"
        when: windowShown

        function test_statePicturesLoad_data() {
            var rows = []
            var names = root.stateIcons.concat(root.inlineIcons)
            for (var i = 0; i < names.length; ++i) {
                var states = root.statesOf(names[i])
                for (var j = 0; j < states.length; ++j)
                    rows.push({ tag: names[i] + "-" + states[j] })
            }
            return rows
        }

        function test_statePicturesLoad(data) {
            var picture = findChild(sheet, data.tag)
            verify(picture !== null)
            tryCompare(picture, "status", Image.Ready)
            verify(picture.implicitWidth > 0 && picture.implicitHeight > 0)
        }

        function test_plainPicturesLoad_data() {
            return root.plainPictures.concat(["progress-item"]).map(function(name) { return { tag: name } })
        }

        function test_plainPicturesLoad(data) {
            var picture = findChild(sheet, data.tag)
            tryCompare(picture, "status", Image.Ready)
            verify(picture.implicitWidth > 0)
        }

        // The password eye is never disabled, so it has no grey picture: a disabled one shows nothing.
        function test_passwordIconsHaveNoDisabledPicture_data() {
            return root.inlineIcons.map(function(name) { return { tag: name } })
        }

        function test_passwordIconsHaveNoDisabledPicture(data) {
            var url = "qrc:/icons/" + data.tag + "-X.svg"
            ignoreWarning(new RegExp("Cannot open: " + url))
            var picture = createTemporaryQmlObject("import QtQuick; Image { }", root)
            picture.source = url
            compare(picture.status, Image.Error)
        }

        function test_statesLookDifferent_data() {
            return root.stateIcons.concat(root.inlineIcons).map(function(name) { return { tag: name } })
        }

        // The colours of a picture, sampled every other pixel from a grab of the whole sheet.
        function samplesOf(sheetImage, picture) {
            var origin = picture.mapToItem(root, 0, 0)
            var samples = []
            for (var y = 0; y < picture.height; y += 2) {
                for (var x = 0; x < picture.width; x += 2)
                    samples.push(String(sheetImage.pixel(origin.x + x, origin.y + y)))
            }
            return samples.join()
        }

        function test_statesLookDifferent(data) {
            var states = root.statesOf(data.tag)
            var pictures = states.map(function(state) { return findChild(sheet, data.tag + "-" + state) })
            for (var i = 0; i < pictures.length; ++i)
                tryCompare(pictures[i], "status", Image.Ready)
            var sheetImage = grabImage(root)
            var samples = pictures.map(function(picture) { return samplesOf(sheetImage, picture) })
            for (var a = 0; a < samples.length; ++a) {
                for (var b = a + 1; b < samples.length; ++b)
                    verify(samples[a] !== samples[b], states[a] + " and " + states[b] + " look the same")
            }
        }

        function test_saveContactSheet() {
            if (testHelper.screenshotDir === "")
                skip("set ZELK_SCREENSHOT_DIR to keep the contact sheet")
            var image = grabImage(root)
            verify(image.width > 0)
            image.save(testHelper.screenshotDir + "/icons.png")
        }
    }
}
