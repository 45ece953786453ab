import QtQuick
import QtQuick.Controls
import QtTest
import "qrc:/qml"

// Hosts the kit the way a window document does: the kit finds scf, gradiendVar, prop, background
// and mainFunctions in the document that contains it.
Item {
    id: root
    width: 760
    height: 560

    property real scf: 1
    property int gradiendVar: 0

    Properties { id: prop; scale: scf }
    Background { id: background }

    Btn { id: button; x: 10; y: 10; iconName: "Select File"; iconWidth: 130 * scf; iconHeight: 130 * scf }
    SignalSpy { id: buttonClicks; target: button; signalName: "clicked" }
    TextBtn { id: textButton; x: 160; y: 10; width: 150 * scf; height: 44 * scf; text: "PROCESS" }
    SignalSpy { id: textButtonClicks; target: textButton; signalName: "clicked" }
    ProgressBar { id: progress; x: 10; y: 160 }

    Dropdown {
        id: formats
        x: 10
        y: 200
        width: 100 * scf
        mainVisible: false
        model: ["MP3", "WAV", "FLAC"]
        currentIndex: -1
    }

    TextField { id: nameField; y: 230; width: 300; label: "Name"; value: "Alice" }
    TextField { id: passwordField; y: 300; width: 300; label: "Password"; value: "secret12" }
    SectionLabel { id: sampleSection; x: 20; y: 390; text: "OPTION SETTINGS" }
    GroupBox { id: sampleGroup; x: 20; y: 465; width: 440; label: "Output Format" }

    TestCase {
        name: "Btn"
        when: windowShown

        function init() {
            button.enabled = true
            button.isCustomHovered = false
            mouseMove(root, root.width - 1, root.height - 1)
        }

        function test_stateShowsItsPicture_data() {
            return [
                { tag: "normal", state: "", picture: "U" },
                { tag: "hovered", hover: true, state: "hovered", picture: "F" },
                { tag: "pressed", hover: true, press: true, state: "pressed", picture: "D" },
                { tag: "disabled", disable: true, state: "disabled", picture: "X" },
                { tag: "hovered by its owner", custom: true, state: "hovered", picture: "F" }
            ]
        }

        function test_stateShowsItsPicture(data) {
            button.enabled = !data.disable
            button.isCustomHovered = !!data.custom
            if (data.hover) {
                mouseMove(button, 65, 65)
                tryCompare(button, "hovered", true)
            }
            if (data.press)
                mousePress(button, 65, 65)
            compare(button.state, data.state)
            var picture = decodeURIComponent(String(button.background.source))
            compare(picture, "qrc:/icons/Select File-" + data.picture + ".svg")
            tryCompare(button.background, "status", Image.Ready)
            if (data.press) {
                mouseRelease(button, 65, 65)
                compare(button.state, "hovered")
            }
        }

        function test_tooltipClickAndFocus() {
            // The tooltip shows only with a text.
            mouseMove(button, 65, 65)
            tryCompare(button, "hovered", true)
            verify(!button.ToolTip.visible)
            button.tooltip = "Pick a media file"
            verify(button.ToolTip.visible)
            compare(button.ToolTip.text, "Pick a media file")
            mouseMove(root, 470, 100)
            tryCompare(button.ToolTip, "visible", false)
            button.tooltip = ""
            buttonClicks.clear()
            mouseClick(button, 65, 65)
            compare(buttonClicks.count, 1)
            verify(!button.activeFocus)
        }
    }

    TestCase {
        name: "TextBtn"
        when: windowShown

        function init() {
            textButton.enabled = true
            textButtonClicks.clear()
        }

        function test_statesFollowThePointer() {
            mouseMove(textButton, 20, 20)
            tryCompare(textButton, "visualState", "hovered")
            compare(textButton.gradient, textButton.frameGradientF)
            mouseMove(root, 470, 100)
            tryCompare(textButton, "visualState", "normal")
            compare(textButton.gradient, textButton.frameGradientU)
            textButton.isCustomHovered = true
            compare(textButton.visualState, "hovered")
            textButton.isCustomHovered = false
            mouseMove(textButton, 20, 20)
            mousePress(textButton, 20, 20)
            compare(textButton.visualState, "pressed")
            mouseRelease(textButton, 20, 20)
            compare(textButtonClicks.count, 1)
            textButton.enabled = false
            mouseClick(textButton)
            compare(textButtonClicks.count, 1)
            compare(textButton.visualState, "disabled")
            compare(textButton.gradient, textButton.frameGradientX)
        }
    }

    TestCase {
        name: "ProgressBar"
        when: windowShown

        function cleanup() {
            root.scf = 1
            progress.percents = 0
        }

        function test_scaleAndFill_data() {
            return [[1, 30, 50, 0.5], [2, 15, 150, 1], [0.75, 40, -20, 0]].map(
                ([scale, interval, percents, fraction]) =>
                    ({ tag: scale + "x, " + percents + "%", scale, interval, percents, fraction }))
        }

        function test_scaleAndFill(data) {
            root.scf = data.scale
            compare(findChild(progress, "stripeTimer").interval, data.interval)
            compare(progress.implicitWidth, 340 * data.scale)
            compare(progress.implicitHeight, 30 * data.scale)
            compare(progress.tileWidth, Math.round(32 * data.scale))
            progress.percents = data.percents
            compare(findChild(progress, "filledPart").width, (progress.width - 2 * progress.radius) * data.fraction)
        }

        function test_stripesMoveAndWrapWhileShown() {
            var timer = findChild(progress, "stripeTimer")
            progress.stripeOffset = -4
            timer.triggered()
            compare(progress.stripeOffset, -2)
            timer.triggered()
            compare(progress.stripeOffset, -progress.tileWidth)
            verify(timer.running)
            progress.visible = false
            verify(!timer.running)
            progress.visible = true
        }
    }

    TestCase {
        name: "Dropdown"
        when: windowShown

        function cleanup() {
            formats.popup.close()
        }

        function openList() {
            formats.popup.open()
            tryCompare(formats.popup, "opened", true)
            return formats.popup.contentItem
        }

        // Only the current entry stands out, and a box that shows nothing highlights nothing.
        function test_highlighting() {
            verify(!formats.background.visible)
            verify(!formats.indicator.visible)
            verify(!formats.contentItem.visible)
            var list = openList()
            compare(formats.highlightedIndex, -1)
            compare(list.count, 3)
            for (var i = 0; i < list.count; ++i) {
                verify(!list.itemAtIndex(i).highlighted)
                compare(list.itemAtIndex(i).background.color, Qt.rgba(0, 0, 0, 0))
            }
            formats.popup.close()
            formats.currentIndex = 1
            var current = openList().itemAtIndex(1)
            verify(current.highlighted)
            compare(current.font.weight, Font.DemiBold)
            compare(list.itemAtIndex(0).font.weight, Font.Normal)
        }
    }

    TestCase {
        name: "TextField"
        when: windowShown

        function cleanup() {
            testHelper.releaseCreated()
        }

        function test_readOnlyUnlessEditing() {
            verify(!nameField.editing)
            verify(!findChild(nameField, "valueInput").parent.visible)
            compare(findChild(nameField, "valueText").text, "Alice")
            compare(findChild(passwordField, "valueText").text, "******")
            compare(nameField.children[0].children[0].text, "Name:")
            // In the My Account window while it edits, an input, a password masked until the eye shows it.
            var field = testHelper.createWithContext(Qt.resolvedUrl("qrc:/qml/TextField.qml"), {
                myAccount: { editing: true }, scf: 1, prop: prop
            })
            verify(field !== null)
            field.parent = root
            field.width = 300
            field.label = "Password"
            field.value = "secret12"
            verify(field.editing)
            var input = findChild(field, "valueInput")
            verify(input.parent.visible)
            compare(input.text, "secret12")
            compare(input.echoMode, TextInput.Password)
            var eye = findChild(field, "eye")
            verify(eye.visible)
            mouseClick(eye)
            compare(input.echoMode, TextInput.Normal)
            compare(eye.iconName, "password-hidden")
            verify(!findChild(field, "valueText").parent.visible)
        }
    }

    TestCase {
        name: "KitSample"
        when: windowShown

        // Inside the frames, left of their texts, the fill matches the window gradient beside them;
        // the frame line itself is lighter.
        function test_fillsBlendIntoBackground() {
            root.gradiendVar++
            var image = grabImage(root)
            var blends = function(point) {
                var a = image.pixel(point.x, point.y)
                var b = image.pixel(root.width - 2, point.y)
                return Math.abs(a.r - b.r) < 0.03 && Math.abs(a.g - b.g) < 0.03 && Math.abs(a.b - b.b) < 0.03
            }
            verify(blends(sampleSection.mapToItem(root, 6, sampleSection.height / 2)))
            verify(blends(sampleGroup.mapToItem(root, 6, sampleGroup.height - 6)))
            verify(!blends(sampleSection.mapToItem(root, sampleSection.width / 2, 0)))
            if (testHelper.screenshotDir !== "")
                image.save(testHelper.screenshotDir + "/kit.png")
        }
    }

    Item { id: probe; x: 10; width: 10; height: 10 }
    readonly property var redGradient: ({ y: 0, height: 400, from: Qt.rgba(0, 0, 0, 1), to: Qt.rgba(1, 0, 0, 1) })

    TestCase {
        name: "Functions"
        when: windowShown

        function cleanup() {
            testHelper.releaseCreated()
        }

        function test_title_data() {
            return [
                // The start-up test sees both APP_VER and DEV_MODE set.
                { tag: "version only", props: { APP_VER: "1.004" }, title: "Zelk 1.004" },
                { tag: "developer mode without version", props: { DEV_MODE: "DEV MODE: OFF" },
                  title: "Zelk 1: | DEV MODE: OFF" }
            ]
        }

        function test_title(data) {
            var functions = testHelper.createWithContext(Qt.resolvedUrl("qrc:/qml/Functions.qml"), data.props)
            compare(functions.setApplicationWindowTitle(), data.title)
        }

        // Hours drop out; fractions and negative estimates show as whole seconds.
        function test_formatTime() {
            for (const [seconds, text] of [[-5, "0:00"], [59, "0:59"], [3725, "2:05"], [59.7, "0:59"]])
                compare(Functions.formatTime(seconds), text, seconds)
        }

        function test_capitalizeFirstLetter() {
            compare(Functions.capitalizeFirstLetter("gUITAR"), "Guitar")
            compare(Functions.capitalizeFirstLetter(""), "")
            compare(Functions.capitalizeFirstLetter(undefined), undefined)
        }

        function test_interpolateColor_data() {
            return [[100, 100, 0.5], [0, -50, 0], [390, 500, 1]].map(([y, offset, red]) => ({ tag: y + "+" + offset, y, offset, red }))
        }

        function test_interpolateColor(data) {
            probe.y = data.y
            var colour = Functions.interpolateColor(redGradient, probe, data.offset)
            fuzzyCompare(colour.r, data.red, 0.01)
            compare([colour.g, colour.b, colour.a], [0, 0, 1])
            compare(String(Functions.interpolateColor({ height: 0 }, probe, 0)), "#ffffff")
        }
    }
}
