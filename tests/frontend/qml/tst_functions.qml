import QtQuick
import QtTest
import "qrc:/qml"

Item {
    id: root
    width: 200
    height: 400

    Functions { id: functions }

    Background {
        id: gradientBackground
        from: "#000000"
        to: "#ff0000"
    }

    Item {
        id: probe
        x: 10
        width: 10
        height: 10
    }

    TestCase {
        name: "Functions"
        when: windowShown

        function test_titleWithoutVersion() {
            // The test engine sets neither APP_VER nor DEV_MODE.
            compare(functions.setApplicationWindowTitle(), "Zelk 1")
        }

        function test_titleWithContext_data() {
            return [
                { tag: "version only", props: { APP_VER: "1.004" }, title: "Zelk 1.004" },
                { tag: "developer mode", props: { APP_VER: "1.004", DEV_MODE: "DEV MODE: ON" },
                  title: "Zelk 1.004: | DEV MODE: ON" },
                { tag: "developer mode without version", props: { DEV_MODE: "DEV MODE: OFF" },
                  title: "Zelk 1: | DEV MODE: OFF" }
            ]
        }

        function test_titleWithContext(data) {
            var instance = testHelper.createWithContext(Qt.resolvedUrl("qrc:/qml/Functions.qml"), data.props)
            verify(instance !== null)
            compare(instance.setApplicationWindowTitle(), data.title)
        }

        function test_formatTime_data() {
            return [
                { tag: "zero", seconds: 0, text: "0:00" },
                { tag: "negative", seconds: -5, text: "0:00" },
                { tag: "under a minute", seconds: 59, text: "0:59" },
                { tag: "one minute", seconds: 60, text: "1:00" },
                { tag: "hours dropped", seconds: 3725, text: "2:05" },
                { tag: "fraction", seconds: 59.7, text: "0:59" }
            ]
        }

        function test_formatTime(data) {
            compare(functions.formatTime(data.seconds), data.text)
        }

        function test_capitalizeFirstLetter_data() {
            return [
                { tag: "empty", input: "", output: "" },
                { tag: "mixed case", input: "gUITAR", output: "Guitar" },
                { tag: "lower case", input: "vocals", output: "Vocals" },
                { tag: "one letter", input: "x", output: "X" }
            ]
        }

        function test_capitalizeFirstLetter(data) {
            compare(functions.capitalizeFirstLetter(data.input), data.output)
        }

        function test_capitalizeMissingText() {
            compare(functions.capitalizeFirstLetter(undefined), undefined)
        }

        function test_interpolateColor_data() {
            return [
                { tag: "top", y: 0, offset: 0, red: 0 },
                { tag: "middle", y: 100, offset: 100, red: 0.5 },
                { tag: "bottom", y: 390, offset: 10, red: 1 },
                { tag: "clamped above", y: 0, offset: -50, red: 0 },
                { tag: "clamped below", y: 390, offset: 500, red: 1 }
            ]
        }

        function test_interpolateColor(data) {
            probe.y = data.y
            var colour = functions.interpolateColor(gradientBackground, probe, data.offset)
            fuzzyCompare(colour.r, data.red, 0.01)
            compare(colour.g, 0)
            compare(colour.b, 0)
            compare(colour.a, 1)
        }

        function test_interpolateColorWithoutHeight() {
            var flat = { height: 0, y: 0, from: "#000000", to: "#ff0000" }
            compare(String(functions.interpolateColor(flat, probe, 0)), "#ffffff")
        }
    }
}
