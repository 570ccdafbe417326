"""The real player's window under Xvfb and openbox: place, look, pointers,
presses, dragging, the ways of ending, and bad embedded data.

Run by ctest as: /usr/bin/python3 tests/e2e_window_test.py BUILD_DIR
"""

import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "harness"))

import numpy as np  # noqa: E402
from PIL import Image  # noqa: E402

from desktop import Desktop  # noqa: E402

BUILD = os.path.abspath(sys.argv.pop(1) if len(sys.argv) > 1 else os.path.join(HERE, "..", "build"))
ASSETS = os.path.join(HERE, "..", "assets")
TITLE = "ZORVA听歌软件"

# Button rectangles inside the window: x0, y0, x1, y1 (exclusive ends).
EXIT_BUTTON = (202, 244, 290, 276)
INSTRUCTIONS_BUTTON = (127, 244, 223, 276)


def picture(name):
    return np.asarray(Image.open(os.path.join(ASSETS, name)).convert("RGB"), dtype=np.int16)


def outside_buttons_mask():
    mask = np.ones((300, 400), dtype=bool)
    for x0, y0, x1, y1 in (EXIT_BUTTON, INSTRUCTIONS_BUTTON):
        mask[y0:y1, x0:x1] = False
    return mask


class PlayerWindow(unittest.TestCase):
    """One desktop per test: each starts the player afresh."""

    program = "zorva"

    def setUp(self):
        self.desktop = Desktop(record=False)
        self.desktop.__enter__()
        self.addCleanup(self.desktop.__exit__, None, None, None)

    def start(self, program=None):
        d = self.desktop
        self.proc = d.start([os.path.join(BUILD, program or self.program)])
        self.window = d.wait_for_window(title=TITLE, timeout=20)
        return self.window

    def shot(self):
        g = self.desktop.window_geometry(self.window.id)
        img = self.desktop.screenshot(region=(g.x, g.y, g.width, g.height))
        return np.asarray(img.convert("RGB"), dtype=np.int16)

    def at(self, x, y):
        """Screen position of a point inside the window."""
        g = self.desktop.window_geometry(self.window.id)
        return g.x + x, g.y + y

    def settled_shot(self, drawn):
        """A screenshot once `drawn(shot)` holds, or the last one after 5 s:
        the first frame may not be drawn the moment the window maps."""
        for _ in range(50):
            shot = self.shot()
            if drawn(shot):
                break
            self.desktop.run(["sleep", "0.1"])
        return shot

    def assert_shows(self, name):
        expected, mask = picture(name), outside_buttons_mask()
        shot = self.settled_shot(lambda s: np.all(s == expected, axis=2)[mask].mean() > 0.999)
        self.assertEqual(shot.shape, (300, 400, 3))
        same = np.all(shot == expected, axis=2)
        self.assertGreater(same[mask].mean(), 0.999, f"the window does not show {name}")
        # Inside the buttons the picture shows through; only white letters
        # stand on it, so every changed pixel is lighter than the picture.
        for rect in (EXIT_BUTTON, INSTRUCTIONS_BUTTON):
            x0, y0, x1, y1 = rect
            part, base = shot[y0:y1, x0:x1], expected[y0:y1, x0:x1]
            white = np.all(part >= 200, axis=2) & np.all(base < 120, axis=2)
            self.assertGreater(white.sum(), 60, f"no white text in {rect}")
            changed = np.any(part != base, axis=2)
            lighter = np.all(part >= base - 2, axis=2)
            self.assertGreater((lighter | ~changed).mean(), 0.99, f"text in {rect} is not drawn over the picture")

    def test_window_is_centred_borderless_titled_with_icon(self):
        self.start()
        d = self.desktop
        self.assertEqual(tuple(d.window_geometry(self.window.id)), (440, 362, 400, 300))
        props = d.run(["xprop", "-id", str(self.window.id)]).stdout
        self.assertIn(f'_NET_WM_NAME(UTF8_STRING) = "{TITLE}"', props)
        self.assertIn("_NET_FRAME_EXTENTS(CARDINAL) = 0, 0, 0, 0", props)
        self.assertIn("_NET_WM_ICON(CARDINAL) = \tIcon (32 x 32)", props)
        self.assertIn("Icon (16 x 16)", props)
        self.assertNotIn("_NET_WM_STATE_SKIP_TASKBAR", props)
        self.assertIn(self.window.id, d.client_list())

    def test_shows_the_background_picture_with_the_two_texts(self):
        self.start()
        self.assert_shows("background.png")

    def test_instructions_button_brings_the_legend_under_both_texts(self):
        self.start()
        for _ in range(2):  # a second press changes nothing
            self.desktop.click(*self.at(150, 260))
            self.desktop.move(*self.at(380, 20))
        self.assert_shows("legend.png")
        self.assertIsNone(self.proc.poll())

    def test_pointers_over_the_buttons(self):
        self.start()
        cases = [
            # Anywhere over the exit button's 88x32, letters or not.
            ((203, 245), "pointer"), ((288, 274), "pointer"), ((212, 260), "pointer"),
            ((245, 250), "pointer"),
            # The instructions button where the exit button is not on top.
            ((128, 245), "help"), ((200, 274), "help"), ((150, 260), "help"),
            # Elsewhere the arrow.
            ((100, 100), "left_ptr"), ((126, 260), "left_ptr"), ((291, 260), "left_ptr"),
            ((200, 243), "left_ptr"),
        ]
        for (x, y), name in cases:
            self.desktop.move(*self.at(x, y))
            got = None
            for _ in range(20):  # the pointer image follows the motion event
                got = self.desktop.cursor_name()
                if got == name:
                    break
                self.desktop.run(["sleep", "0.05"])
            self.assertEqual(got, name, f"pointer at {x},{y}")

    def test_press_where_the_buttons_overlap_ends_with_zero(self):
        self.start()
        self.desktop.click(*self.at(212, 260))
        self.assertEqual(self.proc.wait(10), 0)

    def test_exit_button_ends_with_zero(self):
        self.start()
        self.desktop.click(*self.at(270, 250))
        self.assertEqual(self.proc.wait(10), 0)

    def test_escape_ends_with_zero(self):
        self.start()
        self.desktop.key("Escape")
        self.assertEqual(self.proc.wait(10), 0)

    def test_dragging_a_picture_moves_the_window(self):
        self.start()
        d = self.desktop
        x, y = self.at(60, 150)
        d.drag(x, y, x + 90, y + 45)
        g = d.window_geometry(self.window.id)
        self.assertEqual((g.x, g.y), (440 + 90, 362 + 45))
        # The legend picture drags too.
        d.click(*self.at(150, 260))
        x, y = self.at(60, 150)
        d.drag(x, y, x - 30, y + 20)
        g = d.window_geometry(self.window.id)
        self.assertEqual((g.x, g.y), (440 + 60, 362 + 65))

    def test_pressing_a_text_does_not_move_the_window(self):
        self.start()
        d = self.desktop
        x, y = self.at(150, 260)
        d.drag(x, y, x + 80, y + 40)
        g = d.window_geometry(self.window.id)
        self.assertEqual((g.x, g.y), (440, 362))
        self.assertIsNone(self.proc.poll())

    def test_undecodable_picture_shows_the_background_colour(self):
        self.start("zorva_undecodable_picture")
        mask = outside_buttons_mask()
        # The system's button face everywhere but the two texts.
        face = lambda shot: np.all(shot[mask] == (240, 240, 240))  # noqa: E731
        self.assertTrue(face(self.settled_shot(face)))
        self.assertIsNone(self.proc.poll())


class BadStart(unittest.TestCase):
    def test_broken_window_data_is_a_fatal_error_box_then_255(self):
        with Desktop(record=False) as d:
            proc = d.start([os.path.join(BUILD, "zorva_broken_window")])
            box = d.wait_for_window(title="Zorva", timeout=20)
            self.assertIsNone(d.find_window(title=TITLE))
            self.assertIsNone(proc.poll(), "the process waits for the box")
            d.run(["xdotool", "windowactivate", "--sync", str(box.id)])
            d.key("Return")
            self.assertEqual(proc.wait(10), 255)
            _, err = d.output(proc)
            self.assertIn("line 5", err)

    def test_no_display_says_so_and_fails(self):
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        import subprocess
        result = subprocess.run([os.path.join(BUILD, "zorva")], env=env, capture_output=True, text=True,
                                timeout=20)
        self.assertEqual(result.returncode, 255)
        self.assertIn("DISPLAY is not set", result.stderr)


class SmallScreen(unittest.TestCase):
    def test_centring_keeps_negative_places(self):
        with Desktop(record=False, screen="320x240x24") as d:
            d.start([os.path.join(BUILD, "zorva")])
            w = d.wait_for_window(title=TITLE, timeout=20)
            g = d.window_geometry(w.id)
            self.assertEqual((g.x, g.y), (-40, -30))


if __name__ == "__main__":
    unittest.main(verbosity=2)
