#!/usr/bin/env python3
"""The backup store inside the install's swap, and the undo, ended at each of
their steps (and each recovery after them ended at each of its own): the game
folder, the store beside its Game folder included, is always exactly as
before or exactly as after, with every file's bytes, times and attributes.

usage: store_steps_tests.py WINE_RUN EXTRACT_CLI
"""
import os
import shutil
import tempfile
import unittest

import wine_script
from wine_script import py_zip, win

RO, HIDDEN = 0x1, 0x2
STORE = "Velmora备份"
ANSWERS = ("result", "failure", "unrestored", "killed", "steps", "step", "recovered", "recovery-incomplete",
           "undone", "attrib", "locked", "unlocked", "kept", "state", "patched", "held", "unfinished",
           "menu")


def run_script(commands):
    """Runs the commands through extract_cli in one Wine process; returns its answer lines."""
    return wine_script.run_script(commands, ANSWERS)


def file_state(path):
    """(bytes, mode, access and write times, extended attributes). Reading a file moves its access time on: it is
    put back, so that looking changes nothing. Times count in the 100 ns steps that Windows keeps them in."""
    st = os.stat(path)
    with open(path, "rb") as fh:
        data = fh.read()
    os.utime(path, ns=(st.st_atime_ns, st.st_mtime_ns))
    xattrs = tuple(sorted((a, os.getxattr(path, a)) for a in os.listxattr(path)))
    return data, st.st_mode, st.st_atime_ns // 100, st.st_mtime_ns // 100, xattrs


def tree(root):
    """{relative path: None for a folder, or the file's state}"""
    return wine_script.tree(root, file_state)


def copy_tree(source, target):
    """An exact copy: bytes, mode, extended attributes (Wine keeps hidden there) and times, the source's access
    times left as they were."""
    os.makedirs(target)
    for name in os.listdir(source):
        src, dst = os.path.join(source, name), os.path.join(target, name)
        if os.path.isdir(src):
            copy_tree(src, dst)
            continue
        st = os.stat(src)
        with open(src, "rb") as fi, open(dst, "wb") as fo:
            fo.write(fi.read())
        for a in os.listxattr(src):
            os.setxattr(dst, a, os.getxattr(src, a))
        os.chmod(dst, st.st_mode)
        for path in (src, dst):
            os.utime(path, ns=(st.st_atime_ns, st.st_mtime_ns))


def differences(want, got):
    lines = []
    for path in sorted(set(want) | set(got)):
        if path not in got:
            lines.append("missing " + path)
        elif path not in want:
            lines.append("added " + path)
        elif want[path] != got[path]:
            w, g = want[path], got[path]
            what = [n for n, a, b in zip(("bytes", "mode", "accessed", "written", "attributes"), w or (), g or ()) if a != b]
            lines.append("changed %s: %s" % (path, " ".join(what) or "kind"))
    return "\n".join(lines)


class StoreSteps(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="velmora-store-")
        # Two themes: the second replaces some files of the first and one of
        # the player's that the first left alone, and adds a folder.
        self.first = os.path.join(self.dir, "first.zip")
        py_zip(self.first, {"ClientZips.txt": b"first list", "DATA/Menu/a.ini": b"first a" * 40,
                            "DATA/Menu/b.ini": b"first b", "DATA/Menu_SC4/p.dds": b"first p" * 100})
        self.second = os.path.join(self.dir, "second.zip")
        py_zip(self.second, {"ClientZips.txt": b"second list", "DATA/Menu/a.ini": b"second a",
                             "Data/Menu/Mine.ini": b"second over the player's", "DATA/Menu_SC4/p.dds": b"second p",
                             "DATA/Menu_SC4/New/q.dds": b"second q"})

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def game_folder(self, name):
        """A game folder holding the player's own files (one hidden, one read-only, one in a letter case of its
        own), their own wzCAFG.ZIP, and old times; returns it and its Game folder."""
        folder = os.path.join(self.dir, name)
        game = os.path.join(folder, "Game")
        files = {"ClientZips.txt": b"the game's list", "wzCAFG.ZIP": b"PK\x03\x04 the player's own",
                 "DATA/Menu/a.ini": b"the player's edited a", "DATA/Menu/mine.INI": b"another HUD's file",
                 "DATA/Menu/notes.txt": b"no pack has it"}
        for i, (rel, data) in enumerate(sorted(files.items())):
            path = os.path.join(game, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
            os.utime(path, (1546300800 + 3600 * i, 1546300800 + 60 * i))
        with open(os.path.join(folder, "TCLS.ini"), "wb") as f:
            f.write(b"beside Game")
        run_script([["attrib", win(os.path.join(game, "DATA/Menu/a.ini")), "1"],
                    ["attrib", win(os.path.join(game, "wzCAFG.ZIP")), "3"],
                    ["attrib", win(os.path.join(game, "DATA/Menu/mine.INI")), "2"]])
        return folder, game

    def install(self, archive, game, entry, word, extra=()):
        return run_script(list(extra) + [["install", win(archive), win(game), str(entry), word]])

    def copy(self, folder, name):
        target = os.path.join(self.dir, name)
        copy_tree(folder, target)
        return target, os.path.join(target, "Game")

    def steps_of(self, commands):
        lines = run_script([["count"], ["trace"]] + commands)
        total = int([l for l in lines if l.startswith("steps ")][-1].split()[1])
        kinds = [l.split()[2] for l in lines if l.startswith("step ")]
        self.assertEqual(len(kinds), total)
        return lines, kinds

    def check_every_kill(self, start, command, before, after, done_at, total, same=lambda t: t):
        """Ends `command` at each of its steps in a copy of `start`; the recovery brings back `before` when the
        kill came before DONE, else `after` (as far as `same` says two runs can be the same). Each recovery is
        itself ended at each of its steps in further copies, and the next recovery finishes the work."""
        for k in range(1, total + 1):
            state, game = self.copy(start, "k%d" % k)
            self.assertEqual(run_script([["killat", str(k)], command(game)]), ["killed at %d" % k])
            expected = before if k <= done_at else after
            probe, probe_game = self.copy(state, "k%d-whole" % k)
            lines = run_script([["count"], ["recover", win(probe_game)]])
            self.assertIn("recovered", lines, k)
            self.assertEqual(differences(same(expected), same(tree(probe))), "", k)
            recovery_steps = int([l for l in lines if l.startswith("steps ")][0].split()[1])
            copies = []
            for j in range(1, recovery_steps + 1):
                copy, copy_game = self.copy(state, "k%d-r%d" % (k, j))
                self.assertEqual(run_script([["killat", str(j)], ["recover", win(copy_game)]]), ["killed at %d" % j])
                copies.append((copy, copy_game))
            if copies:
                self.assertEqual(run_script([["recover", win(g)] for _, g in copies]), ["recovered"] * len(copies), k)
            for j, (copy, _) in enumerate(copies, 1):
                self.assertEqual(differences(same(expected), same(tree(copy))), "", (k, j))
            for path in [state, probe] + [c for c, _ in copies]:
                shutil.rmtree(path)

    @staticmethod
    def same_install(t):
        """What two runs of one install have alike: all but the new pack archive's times (it is written anew, and
        the record keeps its write time) and the time the record gives the install."""
        t = dict(t)
        archive = os.path.join("Game", "wzCAFG.ZIP")
        if t.get(archive):
            t[archive] = t[archive][:2] + t[archive][4:]
        record = os.path.join(STORE, "record.txt")
        if t.get(record):
            lines = t[record][0].split(b"\n")
            lines = [b" ".join(l.split(b" ")[:2]) if l.startswith(b"last ") else l for l in lines]
            lines = [b" ".join(l.split(b" ")[:3]) if l.startswith(b"file ") and l.endswith(b" wzCAFG.ZIP") else l
                     for l in lines]
            t[record] = (b"\n".join(lines),) + t[record][1:2] + t[record][4:]
        return t

    def test_a_kill_at_any_step_of_an_install_keeping_originals_leaves_the_folder_and_store_before_or_after(self):
        start, game = self.game_folder("start")
        self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
        # The game patches a file of ours: the next install keeps it as the
        # newest original, in place of the player's older one.
        with open(os.path.join(game, "DATA/Menu/a.ini"), "wb") as f:
            f.write(b"the game's patched a")
        before = tree(start)
        whole, whole_game = self.copy(start, "whole")
        lines, kinds = self.steps_of([["install", win(self.second), win(whole_game), "2", "钻石"]])
        self.assertIn("result 1", lines)
        after = tree(whole)
        self.assertNotEqual(differences(before, after), "")
        # The record names the entry; the player's original of Mine.ini is kept in its own letter case.
        with open(os.path.join(whole, STORE, "record.txt"), encoding="utf-8") as f:
            record = f.read()
        self.assertIn("\nlast 2 ", record)
        # Every file either install wrote, the pack archive among them, once.
        names = sorted(l.split(" ", 4)[4] for l in record.splitlines() if l.startswith("file "))
        self.assertEqual(names, sorted(["ClientZips.txt", "DATA\\Menu\\a.ini", "DATA\\Menu\\b.ini",
                                        "DATA\\Menu_SC4\\p.dds", "DATA\\Menu_SC4\\New\\q.dds",
                                        "Data\\Menu\\mine.INI", "wzCAFG.ZIP"]))
        originals = os.path.join(whole, STORE, "originals", "DATA", "Menu")
        self.assertEqual(sorted(os.listdir(originals)), ["a.ini", "mine.INI"])
        with open(os.path.join(originals, "a.ini"), "rb") as f:
            self.assertEqual(f.read(), b"the game's patched a")
        for kind in ("create", "write", "flush", "rename", "delete", "mkdir", "journal", "done"):
            self.assertIn(kind, kinds)
        self.check_every_kill(start, lambda g: ["install", win(self.second), win(g), "2", "钻石"], before, after,
                              kinds.index("done") + 1, len(kinds), same=self.same_install)

    def patched_after_first(self):
        """The first theme installed, then one of its files patched by the game: the second install's newest
        original takes the place of the player's older one in the store. Returns the folder, the second
        install's step kinds and the tree it leaves."""
        start, game = self.game_folder("start")
        self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
        with open(os.path.join(game, "DATA/Menu/a.ini"), "wb") as f:
            f.write(b"the game's patched a")
        whole, whole_game = self.copy(start, "whole")
        _, kinds = self.steps_of([["install", win(self.second), win(whole_game), "2", "钻石"]])
        return start, kinds, self.same_install(tree(whole))

    def test_a_second_instance_recovering_while_an_install_keeps_originals_loses_none(self):
        """A second start (an elevated one, or one that gave up waiting) recovers while the install takes its
        steps from DONE on: each original still ends up in the store, once."""
        start, kinds, after = self.patched_after_first()
        for k in range(kinds.index("done") + 1, len(kinds) + 1):
            copy, copy_game = self.copy(start, "r%d" % k)
            lines = self.install(self.second, copy_game, 2, "钻石", [["recoverat", str(k), win(copy_game)]])
            self.assertIn("result 1", lines, k)
            self.assertEqual(run_script([["recover", win(copy_game)]]), ["recovered"], k)
            self.assertEqual(differences(after, self.same_install(tree(copy))), "", (k, kinds[k - 1]))
            shutil.rmtree(copy)

    def test_two_recoveries_at_once_after_a_kill_at_any_step_leave_the_folder_and_store_before_or_after(self):
        """Two starts at once (an elevated one beside a plain one) both recover an install ended at any of its
        steps: the second recovery runs whole at each step of the first, and the folder and the store end up
        exactly as before the install (a kill before DONE) or as after it, each original kept once. The kills:
        after the first, a middle and the last rename of the swap, right after DONE, and at the last step."""
        start, kinds, after = self.patched_after_first()
        before = self.same_install(tree(start))
        done_at = kinds.index("done") + 1
        renames = [i + 1 for i, kind in enumerate(kinds[:done_at]) if kind == "rename"]
        for k in sorted({renames[0] + 1, renames[len(renames) // 2] + 1, renames[-1] + 1, done_at + 1, len(kinds)}):
            killed, killed_game = self.copy(start, "killed%d" % k)
            self.assertEqual(self.install(self.second, killed_game, 2, "钻石", [["killat", str(k)]]),
                             ["killed at %d" % k])
            probe, probe_game = self.copy(killed, "probe%d" % k)
            lines = run_script([["count"], ["recover", win(probe_game)]])
            for j in range(1, int([l for l in lines if l.startswith("steps ")][0].split()[1]) + 1):
                copy, copy_game = self.copy(killed, "k%d-r%d" % (k, j))
                run_script([["recoverat", str(j), win(copy_game)], ["recover", win(copy_game)]])
                self.assertEqual(run_script([["recover", win(copy_game)]]), ["recovered"], (k, j))
                self.assertEqual(differences(before if k <= done_at else after, self.same_install(tree(copy))), "",
                                 (k, kinds[k - 1], j))
                shutil.rmtree(copy)
            for path in (killed, probe):
                shutil.rmtree(path)

    def test_a_kill_at_any_step_of_an_undo_leaves_the_folder_and_store_before_or_after(self):
        start, game = self.game_folder("start")
        original = tree(start)
        self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
        self.assertIn("result 1", self.install(self.second, game, 2, "钻石"))
        before = tree(start)
        whole, whole_game = self.copy(start, "whole")
        lines, kinds = self.steps_of([["undo", win(whole_game)]])
        self.assertIn("undone 0 left", lines)
        after = tree(whole)
        # Exactly the player's folder again, times and attributes included; the store is gone.
        self.assertEqual(differences(original, after), "")
        self.check_every_kill(start, lambda g: ["undo", win(g)], before, after, kinds.index("done") + 1, len(kinds))

    def test_an_undo_leaves_a_patched_file_and_drops_its_original_with_the_store(self):
        start, game = self.game_folder("start")
        original = tree(start)
        self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
        with open(os.path.join(game, "DATA/Menu/a.ini"), "wb") as f:
            f.write(b"the game's patched a")
        # The question said that the file's pre-theme version would not be kept.
        self.assertIn("undone 1 left", run_script([["undo", win(game), "discard"]]))
        after = tree(start)
        patched = os.path.join("Game", "DATA", "Menu", "a.ini")
        self.assertEqual(after[patched][0], b"the game's patched a")
        original[patched] = after[patched]
        self.assertEqual(differences(original, after), "")
        self.assertEqual(run_script([["undo", win(game)]]), ["undone nothing"])

    def test_a_store_that_cannot_be_trusted_stops_install_and_undo_and_nothing_changes(self):
        start, game = self.game_folder("start")
        self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
        store = os.path.join(start, STORE)
        # A kept original changed by hand: never put back in the player's folder.
        kept = os.path.join(store, "originals", "DATA", "Menu", "a.ini")
        os.chmod(kept, 0o644)
        with open(kept, "ab") as f:
            f.write(b"!")
        before = tree(start)
        lines = run_script([["undo", win(game)]])
        self.assertIn("result 0", lines)
        self.assertIn("failure store-damaged 0 ..\\%s\\originals\\DATA\\Menu\\a.ini" % STORE, lines)
        self.assertEqual(differences(before, tree(start)), "")
        # A record changed by hand (here: pointing outside Game) is never acted on, by an install neither.
        with open(os.path.join(store, "record.txt"), "ab") as f:
            f.write(b"file - 00000000:0 ..\\..\\TCLS.ini\n")
        before = tree(start)
        for command in (["undo", win(game)], ["install", win(self.second), win(game), "2", "钻石"]):
            lines = run_script([command])
            self.assertIn("result 0", lines)
            self.assertIn("failure store-damaged 0 ..\\%s\\record.txt" % STORE, lines)
            self.assertEqual(differences(before, tree(start)), "")

    def test_an_original_the_record_lost_track_of_is_never_deleted_by_an_install(self):
        start, game = self.game_folder("start")
        self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
        # The record goes (by hand): the originals in the store are nobody's now but the player's.
        os.remove(os.path.join(start, STORE, "record.txt"))
        before = tree(start)
        lines = self.install(self.second, game, 2, "钻石")
        self.assertIn("result 0", lines)
        self.assertIn("failure store-damaged 0 ..\\%s\\originals\\ClientZips.txt" % STORE, lines)
        self.assertEqual(differences(before, tree(start)), "")

    def test_an_undo_meeting_a_held_file_changes_nothing_and_a_later_one_finishes(self):
        start, game = self.game_folder("start")
        original = tree(start)
        self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
        before = tree(start)
        # The game reads the last file the undo moves and lets others read it: it cannot move.
        lines = run_script([["lockread", win(os.path.join(game, "DATA/Menu_SC4/p.dds"))], ["undo", win(game)],
                            ["unlock"]])
        self.assertIn("result 0", lines)
        self.assertIn("failure in-use 32 DATA\\Menu_SC4\\p.dds", lines)
        self.assertEqual(differences(before, tree(start)), "")
        self.assertIn("undone 0 left", run_script([["undo", win(game)]]))
        self.assertEqual(differences(original, tree(start)), "")

    def test_an_undo_puts_back_an_original_where_nothing_stands_now(self):
        """The game's repair, a scanner's quarantine or the player deleted a file the theme replaced: its original
        goes back, and counts as restored."""
        start, game = self.game_folder("start")
        original = tree(start)
        self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
        os.remove(os.path.join(game, "DATA/Menu/a.ini"))
        self.assertEqual(run_script([["state", win(game)]]), ["state 王者 0"])
        self.assertEqual(run_script([["undo", win(game)]]), ["undone 0 left"])
        self.assertEqual(differences(original, tree(start)), "")

    def test_a_recovery_does_not_take_a_file_the_game_made_where_an_original_was_put_back_for_that_original(self):
        """An undo put a.ini's original back where nothing stood, and was cut short before DONE; the game then
        wrote its own a.ini there. Rolling back must not move the game's file into the store as the player's
        original (every later undo would refuse the store as damaged, and the game's file would be gone), nor
        keep the journal for it (every later start and install would refuse for ever): the game's file stays,
        and the recovery finishes."""
        start, game = self.game_folder("start")
        self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
        a = os.path.join(game, "DATA", "Menu", "a.ini")
        os.remove(a)
        probe, probe_game = self.copy(start, "probe")
        lines, kinds = self.steps_of([["undo", win(probe_game)]])
        k = self.first_step(lines, "rename", "\\originals\\DATA\\Menu\\a.ini")
        self.assertLess(k, kinds.index("done") + 1)
        self.assertEqual(run_script([["killat", str(k + 1)], ["undo", win(game)]]), ["killed at %d" % (k + 1)])
        with open(a, "wb") as f:
            f.write(b"the game's own a.ini")
        self.assertEqual(run_script([["recover", win(game)]]), ["recovered"])
        with open(a, "rb") as f:
            self.assertEqual(f.read(), b"the game's own a.ini")
        self.assertFalse(os.path.exists(os.path.join(start, STORE, "originals", "DATA", "Menu", "a.ini")))
        # Not stuck: the undo runs, and leaves the game's file.
        lines = run_script([["undo", win(game), "discard"]])
        self.assertEqual(lines[0], "undone 1 left", lines)
        with open(a, "rb") as f:
            self.assertEqual(f.read(), b"the game's own a.ini")

    def test_an_undo_rolled_back_does_not_take_a_file_the_game_made_where_an_original_was_put_back_for_it(self):
        """The same inside the undo itself: a.ini's original is put back where nothing stood, the game writes its
        own a.ini, then DONE cannot be written (the disk full) and the undo is rolled back. The game's file stays
        in Game, and a later undo is not refused as a damaged store."""
        start, game = self.game_folder("start")
        self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
        a = os.path.join(game, "DATA", "Menu", "a.ini")
        os.remove(a)
        probe, probe_game = self.copy(start, "probe")
        lines, kinds = self.steps_of([["undo", win(probe_game)]])
        k = self.first_step(lines, "rename", "\\originals\\DATA\\Menu\\a.ini")
        lines = run_script([["patchat", str(k + 1), win(a)], ["fail", "done", "112"], ["undo", win(game)]])
        self.assertIn("patched at %d 1" % (k + 1), lines)
        with open(a, "rb") as f:
            self.assertEqual(f.read(), b"the game's patch")
        self.assertFalse(os.path.exists(os.path.join(start, STORE, "originals", "DATA", "Menu", "a.ini")), lines)
        again = run_script([["undo", win(game), "discard"]])
        self.assertFalse([l for l in again if "store-damaged" in l], again)

    def test_an_undo_keeps_a_superseded_original_unless_its_question_said_it_would_not(self):
        start, game = self.game_folder("start")
        self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
        with open(os.path.join(game, "DATA/Menu/a.ini"), "wb") as f:
            f.write(b"the game's patched a")
        self.assertEqual(run_script([["state", win(game)]]), ["state 王者 1"])
        # Not asked: the player's pre-theme a.ini stays in the store, which the record still names.
        self.assertEqual(run_script([["undo", win(game)]]), ["undone 1 left", "kept 1"])
        kept = os.path.join(start, STORE, "originals", "DATA", "Menu", "a.ini")
        with open(kept, "rb") as f:
            self.assertEqual(f.read(), b"the player's edited a")
        with open(os.path.join(start, STORE, "record.txt"), encoding="utf-8") as f:
            self.assertEqual([l.split(" ", 4)[4] for l in f.read().splitlines() if l.startswith("file ")],
                             ["DATA\\Menu\\a.ini"])
        self.assertEqual(run_script([["state", win(game)]]), ["state 王者 1"])
        # Asked, and told that it will not be kept: it goes with the store.
        self.assertEqual(run_script([["undo", win(game), "discard"]]), ["undone 1 left"])
        self.assertFalse(os.path.exists(os.path.join(start, STORE)))
        self.assertEqual(run_script([["undo", win(game)]]), ["undone nothing"])

    def test_the_store_s_removal_deletes_nothing_its_record_does_not_name_nor_follows_a_link(self):
        start, game = self.game_folder("start")
        original = tree(start)
        self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
        originals = os.path.join(start, STORE, "originals")
        with open(os.path.join(originals, "DATA", "Menu", "stray.txt"), "wb") as f:
            f.write(b"nobody's but the player's")
        elsewhere = os.path.join(self.dir, "elsewhere")
        os.makedirs(elsewhere)
        with open(os.path.join(elsewhere, "precious.txt"), "wb") as f:
            f.write(b"on another folder")
        os.symlink(elsewhere, os.path.join(originals, "linked"))
        self.assertEqual(run_script([["undo", win(game)]]), ["undone 0 left"])
        self.assertTrue(os.path.exists(os.path.join(elsewhere, "precious.txt")))
        os.remove(os.path.join(originals, "linked"))
        after = tree(start)
        self.assertEqual(after.pop(os.path.join(STORE, "originals", "DATA", "Menu", "stray.txt"))[0],
                         b"nobody's but the player's")
        self.assertEqual(differences(original, {k: v for k, v in after.items() if not k.startswith(STORE)}), "")

    def test_a_link_the_player_put_where_an_install_made_a_folder_stays_after_the_undo(self):
        """The first theme made DATA\\Menu_SC4; the player moved it elsewhere and left a link (a junction) in its
        place. The undo takes our file back through it, but the link is the player's: removing the folder our
        install made must not take it away."""
        start, game = self.game_folder("start")
        self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
        made = os.path.join(game, "DATA", "Menu_SC4")
        elsewhere = os.path.join(self.dir, "elsewhere")
        shutil.move(made, elsewhere)
        os.symlink(elsewhere, made)
        self.assertEqual(run_script([["undo", win(game)]]), ["undone 0 left"])
        self.assertTrue(os.path.islink(made))
        self.assertTrue(os.path.isdir(elsewhere), "the folder behind the link is gone")
        self.assertEqual(os.listdir(elsewhere), [])

    def test_after_an_undo_that_kept_only_originals_the_menu_does_not_name_the_theme(self):
        """The game patched a.ini after the install; the undo leaves the game's file and keeps its original. Nothing
        of ours stands in Game any more: the menu must not say that the theme is installed."""
        start, game = self.game_folder("start")
        self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
        with open(os.path.join(game, "DATA", "Menu", "a.ini"), "wb") as f:
            f.write(b"the game's patch")
        self.assertEqual(run_script([["menu", win(game)]]), ["menu 当前界面：王者（1个文件已被游戏更新）"])
        self.assertEqual(run_script([["undo", win(game)]]), ["undone 1 left", "kept 1"])
        self.assertEqual(run_script([["menu", win(game)]]), ["menu 当前界面：原始（原来的部分文件仍保存在Velmora备份中）"])

    def test_a_set_aside_original_no_journal_names_is_never_deleted(self):
        start, game = self.game_folder("start")
        original = tree(start)
        # Its journal lost (a cleaner, a repair tool): b.ini's original, set aside, and nothing under its name.
        stray = os.path.join(game, "DATA/Menu/b.ini.velmora-old")
        with open(stray, "wb") as f:
            f.write(b"the player's b")
        os.utime(stray, (1546300800, 1546300800))
        self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
        self.assertIn("undone 0 left", run_script([["undo", win(game)]]))
        after = tree(start)
        b = os.path.join("Game", "DATA", "Menu", "b.ini")
        self.assertEqual(after[b][0], b"the player's b")
        self.assertEqual(after[b][3], 1546300800 * 10000000)
        del after[b]
        self.assertEqual(differences({k: v for k, v in original.items() if not k.endswith("b.ini.velmora-old")},
                                     after), "")
        # Where its name is taken, the install refuses and names it; nothing changes.
        with open(os.path.join(game, "DATA/Menu/a.ini.velmora-old"), "wb") as f:
            f.write(b"an older a of the player's")
        before = tree(start)
        lines = self.install(self.first, game, 1, "王者")
        self.assertIn("result 0", lines)
        self.assertIn("failure stray-original 183 DATA\\Menu\\a.ini.velmora-old", lines)
        self.assertEqual(differences(before, tree(start)), "")

    def test_a_member_named_like_our_staged_files_in_any_letter_case_is_refused(self):
        start, game = self.game_folder("start")
        before = tree(start)
        for name in ("DATA/Menu/x.VELMORA-NEW", "DATA/Menu/notes.txt.Velmora-Old"):
            pack = os.path.join(self.dir, "odd.zip")
            py_zip(pack, {"ClientZips.txt": b"odd list", name: b"odd"})
            lines = self.install(pack, game, 1, "王者")
            self.assertIn("result 0", lines, name)
            self.assertEqual(differences(before, tree(start)), "", name)

    def test_the_menu_counts_what_the_undo_will_leave(self):
        start, game = self.game_folder("start")
        self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
        # Patched by the game; gone where none stood; the original's bytes again: only the first is left by an undo.
        with open(os.path.join(game, "DATA/Menu/a.ini"), "wb") as f:
            f.write(b"the game's patched a")
        os.remove(os.path.join(game, "DATA/Menu_SC4/p.dds"))
        with open(os.path.join(game, "ClientZips.txt"), "wb") as f:
            f.write(b"the game's list")
        self.assertEqual(run_script([["state", win(game)]]), ["state 王者 1"])
        self.assertEqual(run_script([["undo", win(game), "discard"]]), ["undone 1 left"])
        self.assertFalse(os.path.exists(os.path.join(start, STORE)))

    def test_while_another_instance_changes_the_folder_an_install_undo_and_recovery_wait_then_refuse(self):
        """An elevated start beside a plain one: while one holds the game folder, the other's install, undo and
        start-up recovery read nothing and change nothing; they wait a bounded time, then say why."""
        start, game = self.game_folder("start")
        self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
        before = tree(start)
        lines = run_script([["lockfolder", win(game)], ["install", win(self.second), win(game), "2", "钻石"],
                            ["undo", win(game)], ["recover", win(game)], ["unlock"]])
        self.assertEqual(lines, ["locked 1", "result 0", "failure busy 32 velmora-install.velmora-lock",
                                 "result 0", "failure busy 32 velmora-install.velmora-lock",
                                 "recovery-incomplete", "failure busy 32 velmora-install.velmora-lock", "unlocked"])
        self.assertEqual(differences(before, tree(start)), "")
        # Let go of (here: by its holder's end), the folder is anyone's again, and no lock stays behind.
        self.assertIn("result 1", self.install(self.second, game, 2, "钻石"))
        self.assertEqual(run_script([["undo", win(game)]]), ["undone 0 left"])
        self.assertFalse(os.path.exists(os.path.join(game, "velmora-install.velmora-lock")))

    def test_a_lock_file_left_behind_that_cannot_be_opened_is_never_taken_for_another_velmora(self):
        """A power cut leaves the folder's lock file behind. One made read-only (a copy tool, a backup restored)
        refuses the delete-on-close open with access denied, as a lock being deleted does: it must not be taken
        for another Velmora for ever. One that cannot be opened at all (here: a folder of that name, as a lock of
        another user's would) is named, with the error, instead of "busy"."""
        start, game = self.game_folder("start")
        lock = os.path.join(game, "velmora-install.velmora-lock")
        for command in (["install", win(self.first), win(game), "1", "王者"], ["undo", win(game)],
                        ["recover", win(game)]):
            open(lock, "wb").close()
            self.assertEqual(run_script([["attrib", win(lock), "3"]]), ["attrib 1"])
            lines = run_script([command])
            self.assertTrue(lines and lines[0] in ("result 1", "undone 0 left", "recovered"), (command, lines))
            self.assertFalse(os.path.exists(lock), command)
        # Nothing waits to be finished: a start says nothing (as before there was a lock).
        os.mkdir(lock)
        self.assertEqual(run_script([["recover", win(game)]]), ["recovered"])
        # An install cut short waits: the start names the lock and why, and so does the next install.
        os.rmdir(lock)
        _, kinds = self.steps_of([["install", win(self.second), win(self.copy(start, "probe")[1]), "2", "钻石"]])
        k = kinds.index("rename") + 1
        self.assertEqual(self.install(self.second, game, 2, "钻石", [["killat", str(k)]]), ["killed at %d" % k])
        os.mkdir(lock)
        lines = run_script([["install", win(self.first), win(game), "1", "王者"], ["recover", win(game)]])
        self.assertEqual(lines, ["result 0", "failure access-denied 5 velmora-install.velmora-lock",
                                 "recovery-incomplete", "failure access-denied 5 velmora-install.velmora-lock"])
        os.rmdir(lock)
        self.assertEqual(run_script([["recover", win(game)]]), ["recovered"])
        self.assertEqual(run_script([["state", win(game)]]), ["state none"])

    def step_of(self, commands, kind, path_end):
        """The number of the first step of `kind` on a path ending in `path_end`, in a run of `commands` in a copy."""
        lines = run_script([["trace"]] + commands)
        for l in lines:
            n, k, path = l.split(" ", 3)[1:]
            if k == kind and path.endswith(path_end):
                return n
        self.fail("no %s of %s in %s" % (kind, path_end, lines))

    def test_a_file_the_game_patches_between_the_look_and_the_swap_is_kept_as_it_was_set_aside(self):
        """The game patches a.ini right before the install sets it aside: what was set aside is kept (its hash
        recorded), whether it is the first install (the player's file) or a later one (then over ours)."""
        for first in (True, False):
            start, game = self.game_folder("start-%s" % first)
            if not first:
                self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
            pack, entry, word = (self.first, 1, "王者") if first else (self.second, 2, "钻石")
            probe, probe_game = self.copy(start, "probe-%s" % first)
            k = self.step_of([["install", win(pack), win(probe_game), str(entry), word]], "rename",
                             "\\DATA\\Menu\\a.ini")
            a = os.path.join(game, "DATA", "Menu", "a.ini")
            self.assertIn("result 1", self.install(pack, game, entry, word, [["writeat", k, win(a)]]))
            self.assertEqual(run_script([["undo", win(game)]]), ["undone 0 left"], first)
            with open(a, "rb") as f:
                self.assertEqual(f.read(), b"the game's patch", first)

    def test_a_file_the_game_patches_while_an_undo_sets_ours_aside_stays_and_its_original_is_kept(self):
        start, game = self.game_folder("start")
        self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
        probe, probe_game = self.copy(start, "probe")
        k = self.step_of([["undo", win(probe_game)]], "rename", "\\DATA\\Menu\\a.ini")
        a = os.path.join(game, "DATA", "Menu", "a.ini")
        self.assertEqual(run_script([["writeat", k, win(a)], ["undo", win(game)]]), ["undone 1 left", "kept 1"])
        with open(a, "rb") as f:
            self.assertEqual(f.read(), b"the game's patch")
        with open(os.path.join(start, STORE, "originals", "DATA", "Menu", "a.ini"), "rb") as f:
            self.assertEqual(f.read(), b"the player's edited a")
        self.assertEqual(run_script([["state", win(game)]]), ["state 王者 1"])

    def test_the_trace_of_an_install_flushes_before_each_step_that_depends_on_it_and_keeps_by_one_rename(self):
        """What a kill cannot show (a killed process's writes still reach the disk): every staged file, the record
        among them, is flushed before the rename that makes it live; the W and N lines before the first rename;
        DONE before the first delete. Each original kept is one rename of its set-aside file into originals\,
        and is the player's file as it was: bytes, times and attributes."""
        start, game = self.game_folder("start")
        self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
        mine = os.path.join("Game", "DATA", "Menu", "mine.INI")
        players = tree(start)[mine]
        lines, kinds = self.steps_of([["install", win(self.second), win(game), "2", "钻石"]])
        steps = [l.split(" ", 3)[2:] for l in lines if l.startswith("step ")]
        journal = "\\velmora-install.velmora-journal"
        first_rename = kinds.index("rename")
        done = kinds.index("done")
        for i, (kind, path) in enumerate(steps):
            if kind == "rename" and path.endswith(".velmora-new"):
                self.assertIn(["flush", path], steps[:i], path)
        # The last lines before the first rename (W, N) and DONE, each flushed before what rests on them.
        last_lines = max(i for i, (k, _) in enumerate(steps[:first_rename]) if k == "journal")
        self.assertIn(["flush", steps[last_lines][1]], steps[last_lines + 1:first_rename])
        self.assertTrue(steps[last_lines][1].endswith(journal))
        first_delete = min(i for i, (k, _) in enumerate(steps) if k == "delete" and i > done)
        self.assertIn(["flush", steps[done][1]], steps[done + 1:first_delete])
        # Kept: a.ini (patched by nobody: ours goes) and mine.INI (the player's): one rename each, nothing written.
        into_store = [p for k, p in steps[done:] if k in ("create", "write", "delete") and STORE + "\\originals" in p]
        self.assertEqual(into_store, [])
        kept = [p for k, p in steps[done:] if k == "rename" and p.endswith(".velmora-old")]
        self.assertEqual([p.rsplit("\\", 1)[1].lower() for p in kept], ["mine.ini.velmora-old"])
        self.assertNotIn("mine.ini.velmora-old", " ".join(p for k, p in steps if k == "delete").lower())
        self.assertEqual(tree(start)[os.path.join(STORE, "originals", "DATA", "Menu", "mine.INI")], players)

    def test_a_kill_at_any_step_of_an_undo_that_puts_back_and_keeps_leaves_the_folder_and_store_before_or_after(self):
        """The undo's new steps ended at each: an original put back where nothing stood, one kept in the store under
        a staged record (the game patched its file; not asked), and one dropped because its bytes stand again."""
        start, game = self.game_folder("start")
        self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
        os.remove(os.path.join(game, "DATA/Menu/a.ini"))
        with open(os.path.join(game, "ClientZips.txt"), "wb") as f:
            f.write(b"the game's patched list")
        with open(os.path.join(game, "wzCAFG.ZIP"), "wb") as f:
            f.write(b"PK\x03\x04 the player's own")
        before = tree(start)
        whole, whole_game = self.copy(start, "whole")
        lines, kinds = self.steps_of([["undo", win(whole_game)]])
        self.assertIn("undone 1 left", lines)
        after = tree(whole)
        self.assertEqual(after[os.path.join("Game", "DATA", "Menu", "a.ini")][0], b"the player's edited a")
        self.assertEqual(sorted(k for k in after if k.startswith(os.path.join(STORE, "originals", "")) and after[k]),
                         [os.path.join(STORE, "originals", "ClientZips.txt")])
        self.check_every_kill(start, lambda g: ["undo", win(g)], before, after, kinds.index("done") + 1, len(kinds),
                              same=self.same_record_bytes)

    @staticmethod
    def same_record_bytes(t):
        """Two runs of one undo that keeps the store write the same record at other times."""
        t = dict(t)
        record = os.path.join(STORE, "record.txt")
        if t.get(record):
            t[record] = t[record][:2] + t[record][4:]
        return t

    def first_step(self, lines, kind, suffix):
        """The number of the first traced step of `kind` whose path ends with `suffix` (Windows separators)."""
        for l in lines:
            parts = l.split(" ", 3)
            if parts[0] == "step" and parts[2] == kind and parts[3].endswith(suffix):
                return int(parts[1])
        self.fail("no %s step of %s" % (kind, suffix))

    def test_a_file_the_game_patches_while_an_undo_sets_ours_aside_is_not_deleted(self):
        """The undo hashes b.ini (ours, where no file stood) long before it renames it aside; the game patches it
        in between. The game's bytes must not be deleted after DONE: the undo leaves it, and counts it as left."""
        start, game = self.game_folder("start")
        self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
        probe, probe_game = self.copy(start, "probe")
        lines, _ = self.steps_of([["undo", win(probe_game)]])
        k = self.first_step(lines, "rename", "\\Game\\DATA\\Menu\\b.ini")
        b = os.path.join(game, "DATA", "Menu", "b.ini")
        lines = run_script([["patchat", str(k), win(b)], ["undo", win(game)]])
        self.assertIn("patched at %d 1" % k, lines)
        self.assertTrue(os.path.exists(b), lines)
        with open(b, "rb") as f:
            self.assertEqual(f.read(), b"the game's patch")
        self.assertIn("undone 1 left", lines)

    def test_a_file_the_game_patches_between_a_second_install_s_hash_and_its_swap_is_kept(self):
        """PlanRecord finds ClientZips.txt as the first install wrote it (so its set-aside file is to be
        deleted); the game patches it before the rename that sets it aside. Its bytes must end up kept (the
        newest original), not deleted after DONE; and the undo gives them back."""
        start, game = self.game_folder("start")
        self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
        probe, probe_game = self.copy(start, "probe")
        lines, _ = self.steps_of([["install", win(self.second), win(probe_game), "2", "钻石"]])
        k = self.first_step(lines, "rename", "\\Game\\ClientZips.txt")
        target = os.path.join(game, "ClientZips.txt")
        lines = self.install(self.second, game, 2, "钻石", [["patchat", str(k), win(target)]])
        self.assertIn("patched at %d 1" % k, lines)
        self.assertIn("result 1", lines)
        holding = [p for p, st in tree(start).items() if st and st[0] == b"the game's patch"]
        self.assertEqual(holding, [os.path.join(STORE, "originals", "ClientZips.txt")])
        self.assertIn("undone 0 left", run_script([["undo", win(game)]]))
        with open(target, "rb") as f:
            self.assertEqual(f.read(), b"the game's patch")

    def test_a_file_the_game_patches_between_the_first_install_s_hash_and_its_swap_can_still_be_undone(self):
        """The first install hashes the player's ClientZips.txt, the game patches it, and the patched file is set
        aside and kept: the record must name what was kept, or every later undo refuses as a damaged store."""
        start, game = self.game_folder("start")
        probe, probe_game = self.copy(start, "probe")
        lines, _ = self.steps_of([["install", win(self.first), win(probe_game), "1", "王者"]])
        k = self.first_step(lines, "rename", "\\Game\\ClientZips.txt")
        target = os.path.join(game, "ClientZips.txt")
        lines = self.install(self.first, game, 1, "王者", [["patchat", str(k), win(target)]])
        self.assertIn("patched at %d 1" % k, lines)
        self.assertIn("result 1", lines)
        lines = run_script([["undo", win(game)]])
        self.assertIn("undone 0 left", lines)
        with open(target, "rb") as f:
            self.assertEqual(f.read(), b"the game's patch")

    def keep_step_after_done(self, start):
        """The step at which an install of the first theme into a copy of `start` moves the set-aside
        ClientZips.txt into the store: after DONE."""
        probe, probe_game = self.copy(start, "probe")
        lines, kinds = self.steps_of([["install", win(self.first), win(probe_game), "1", "王者"]])
        k = self.first_step(lines, "rename", "\\Game\\ClientZips.txt.velmora-old")
        self.assertGreater(k, kinds.index("done") + 1)
        return k

    def test_a_file_of_ours_the_game_rewrote_in_the_same_size_is_kept_when_a_second_install_sets_it_aside(self):
        """The game's rewrite of ClientZips.txt keeps the size, and once even the last-write time our install gave
        it (a patcher that sets times from its own list): what a second install sets aside is kept as the newest
        original whatever its size and time say, since only its bytes tell it from ours; the undo gives it back."""
        for keep_time in (False, True):
            with self.subTest(keep_time=keep_time):
                start, game = self.game_folder("start-%s" % keep_time)
                self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
                target = os.path.join(game, "ClientZips.txt")
                with open(target, "rb") as f:
                    ours = f.read()
                written = os.stat(target)
                with open(target, "wb") as f:
                    f.write(ours.upper())
                if keep_time:
                    os.utime(target, ns=(written.st_atime_ns, written.st_mtime_ns))
                self.assertEqual(len(ours.upper()), len(ours))
                self.assertIn("result 1", self.install(self.second, game, 2, "钻石"))
                holding = [p for p, st in tree(start).items() if st and st[0] == ours.upper()]
                self.assertEqual(holding, [os.path.join(STORE, "originals", "ClientZips.txt")])
                self.assertIn("undone 0 left", run_script([["undo", win(game)]]))
                with open(target, "rb") as f:
                    self.assertEqual(f.read(), ours.upper())

    def test_an_original_held_after_done_is_not_reported_as_nothing_installed(self):
        """A scanner holds the set-aside ClientZips.txt when the install wants to move it into the store after
        DONE: the record cannot be written yet. The menu must not say 原始 (nothing installed, undo greyed)
        while the player's original waits beside the game's file; the next recovery finishes."""
        start, game = self.game_folder("start")
        k = self.keep_step_after_done(start)
        aside = os.path.join(game, "ClientZips.txt.velmora-old")
        lines = run_script([["holdat", str(k), win(aside)], ["install", win(self.first), win(game), "1", "王者"],
                            ["state", win(game)], ["unlock"]])
        self.assertIn("state unfinished", lines)
        self.assertEqual(run_script([["recover", win(game)]]), ["recovered"])
        self.assertEqual(run_script([["state", win(game)]]), ["state 王者 0"])
        # Held as it is set aside (before DONE): the install is rolled back once the file is free.
        start, game = self.game_folder("early")
        aside = os.path.join(game, "ClientZips.txt.velmora-old")
        lines = run_script([["holdwhen", win(aside)], ["install", win(self.first), win(game), "1", "王者"],
                            ["state", win(game)], ["unlock"]])
        if "held " + win(aside) not in lines:
            self.skipTest("the scanner did not take hold in time")
        self.assertNotIn("state none", lines)
        self.assertEqual(run_script([["recover", win(game)]]), ["recovered"])
        self.assertEqual(run_script([["state", win(game)]]), ["state none"])

    def test_work_after_done_that_cannot_finish_is_reported_with_the_change_and_finished_later(self):
        """The change is in place once DONE is on disk, but a scanner holds the set-aside ClientZips.txt when the
        install would move it into the store, or an undo may not delete ours set aside (access denied: the error a
        retry cannot mend). Neither may read as plain success: each names where it stopped and why; the next
        recovery finishes."""
        start, game = self.game_folder("start")
        k = self.keep_step_after_done(start)
        aside = os.path.join(game, "ClientZips.txt.velmora-old")
        lines = run_script([["holdat", str(k), win(aside)], ["install", win(self.first), win(game), "1", "王者"],
                            ["unlock"]])
        self.assertIn("result 1", lines)
        self.assertIn("unfinished in-use 32 ClientZips.txt.velmora-old", lines)
        self.assertEqual(run_script([["recover", win(game)]]), ["recovered"])
        self.assertEqual(run_script([["state", win(game)]]), ["state 王者 0"])
        # The undo: every delete after its DONE refused as to a plain start after an elevated install.
        lines = run_script([["fail", "delete", "5"], ["undo", win(game)]])
        self.assertEqual(lines[0], "undone 0 left")
        self.assertEqual([l.split(" ", 3)[:3] for l in lines[1:]], [["unfinished", "access-denied", "5"]])
        self.assertEqual(run_script([["state", win(game)]]), ["state unfinished"])
        self.assertEqual(run_script([["recover", win(game)]]), ["recovered"])
        self.assertEqual(run_script([["state", win(game)]]), ["state none"])

    def test_a_sub_folder_on_another_volume_is_refused_before_anything_changes_or_undone_whole(self):
        """Game\\DATA\\Menu is a link onto another file system (a junction onto another volume): the originals
        set aside there cannot be renamed into the store. The install must not report success while its
        originals wait beside the game's files and every later install and undo refuses: either it refuses
        before anything changes, or an undo gives the player's folder back."""
        if os.stat("/dev/shm").st_dev == os.stat(self.dir).st_dev:
            self.skipTest("no second file system at hand")
        start, game = self.game_folder("start")
        elsewhere = tempfile.mkdtemp(prefix="velmora-volume-", dir="/dev/shm")
        self.addCleanup(shutil.rmtree, elsewhere, True)
        menu = os.path.join(game, "DATA", "Menu")
        for name in os.listdir(menu):
            shutil.move(os.path.join(menu, name), os.path.join(elsewhere, name))
        os.rmdir(menu)
        os.symlink(elsewhere, menu)
        before = tree(elsewhere)
        lines = self.install(self.first, game, 1, "王者")
        if "result 1" not in lines:
            self.assertEqual(differences(before, tree(elsewhere)), "")
            return
        self.assertFalse(os.path.exists(os.path.join(game, "velmora-install.velmora-journal")), "work left after DONE")
        self.assertIn("undone 0 left", run_script([["undo", win(game)]]))
        self.assertEqual(differences(before, tree(elsewhere)), "")

    def test_an_original_dropped_because_its_bytes_stand_in_game_again_is_not_lost_when_the_game_patches_meanwhile(self):
        """ClientZips.txt holds its original's bytes again, so the undo drops the kept copy after DONE; the game
        patches the file between the undo's hash and that delete. The player's bytes must still exist somewhere
        (hashed again, under a handle that keeps writers out, right before the kept copy goes)."""
        start, game = self.game_folder("start")
        self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
        target = os.path.join(game, "ClientZips.txt")
        with open(target, "wb") as f:
            f.write(b"the game's list")
        before = start
        probe, probe_game = self.copy(start, "probe")
        lines, kinds = self.steps_of([["undo", win(probe_game)]])
        k = self.first_step(lines, "delete", "\\originals\\ClientZips.txt")
        # At DONE (or before a recovery finishes the drop) the patch lands; at the delete itself the file is held.
        for at, landed in ((kinds.index("done") + 1, 1), (k, 0)):
            start, game = self.copy(before, "at-%d" % at)
            target = os.path.join(game, "ClientZips.txt")
            lines = run_script([["patchat", str(at), win(target)], ["undo", win(game)]])
            self.assertIn("patched at %d %d" % (at, landed), lines)
            holding = [p for p, st in tree(start).items() if st and st[0] == b"the game's list"]
            self.assertNotEqual(holding, [], lines)

    def test_an_undo_after_a_lost_journal_does_not_say_nothing_is_installed_while_originals_wait_beside_ours(self):
        """The first install is ended right after DONE, and its journal is lost (a cleaner, a repair tool): our
        files stand, the player's originals wait beside them as ".velmora-old", and no record was written yet.
        The undo must not say that nothing is installed and the game's files are as they were: it gives the
        originals back, or refuses and names one of them."""
        start, game = self.game_folder("start")
        probe, probe_game = self.copy(start, "probe")
        _, kinds = self.steps_of([["install", win(self.first), win(probe_game), "1", "王者"]])
        k = kinds.index("done") + 2
        self.assertEqual(self.install(self.first, game, 1, "王者", [["killat", str(k)]]), ["killed at %d" % k])
        os.remove(os.path.join(game, "velmora-install.velmora-journal"))
        aside = os.path.join(game, "ClientZips.txt.velmora-old")
        self.assertTrue(os.path.exists(aside))
        lines = run_script([["undo", win(game)]])
        if lines and lines[0] == "result 0":
            self.assertTrue(any(l.startswith("failure ") and l.endswith(".velmora-old") for l in lines), lines)
            return
        self.assertNotIn("undone nothing", lines)
        with open(os.path.join(game, "ClientZips.txt"), "rb") as f:
            self.assertEqual(f.read(), b"the game's list")


    def assert_original_still_named(self, start, game, relative, lines):
        """An original left in the store must stay named by its record (else the menu says 原始 and every later
        install of that file refuses the store as damaged): the menu does not say none, and a new install of the
        first theme is not refused."""
        kept = os.path.join(start, STORE, "originals", relative)
        self.assertTrue(os.path.exists(kept), lines)
        state = run_script([["state", win(game)]])
        again = self.install(self.first, game, 1, "王者")
        self.assertNotEqual(state, ["state none"], (lines, state, again))
        self.assertIn("result 1", again, (lines, state, again))

    def test_an_original_kept_because_the_game_patched_its_file_before_the_drop_stays_named_by_a_record(self):
        """ClientZips.txt holds its original's bytes again: the undo plans to drop the kept copy after DONE. The
        game patches the file at DONE, so the drop rightly keeps the copy; but the undo removes the store's
        record (nothing else was to be kept), and the kept copy is then named by nothing."""
        start, game = self.game_folder("start")
        self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
        target = os.path.join(game, "ClientZips.txt")
        with open(target, "wb") as f:
            f.write(b"the game's list")
        probe, probe_game = self.copy(start, "probe")
        _, kinds = self.steps_of([["undo", win(probe_game)]])
        at = kinds.index("done") + 1
        lines = run_script([["patchat", str(at), win(target)], ["undo", win(game)]])
        self.assertIn("patched at %d 1" % at, lines)
        self.assert_original_still_named(start, game, "ClientZips.txt", lines)

    def test_an_original_kept_because_the_game_holds_its_file_at_the_drop_stays_named_by_a_record(self):
        """As above, but the game holds ClientZips.txt (running) when the drop looks: the drop keeps the copy
        without a word (DropIfStandsAgain answers 0 when it cannot open the file), and Z removes the record."""
        start, game = self.game_folder("start")
        self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
        target = os.path.join(game, "ClientZips.txt")
        with open(target, "wb") as f:
            f.write(b"the game's list")
        probe, probe_game = self.copy(start, "probe")
        _, kinds = self.steps_of([["undo", win(probe_game)]])
        at = kinds.index("done") + 1
        lines = run_script([["holdat", str(at), win(target)], ["undo", win(game)], ["unlock"]])
        self.assertIn("held at %d 1" % at, lines)
        self.assert_original_still_named(start, game, "ClientZips.txt", lines)

    def test_an_undo_that_copied_originals_back_is_finished_as_it_copied_whatever_the_volume_answers_later(self):
        """An undo that took the volume for one that keeps no order (FAT, or an NTFS folder whose handle could not
        be asked: RenamesLoggedInOrder answers "no order" then) copies the originals back and is ended right after
        DONE. The recovery asks the volume again and gets NTFS: it skips the drop of the store's copies, then
        removes the record (Z), leaving copies no record names."""
        start, game = self.game_folder("start")
        self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
        os.environ["VELMORA_TEST_FILE_SYSTEM"] = "FAT32"
        self.addCleanup(os.environ.pop, "VELMORA_TEST_FILE_SYSTEM", None)
        probe, probe_game = self.copy(start, "probe")
        _, kinds = self.steps_of([["undo", win(probe_game)]])
        k = kinds.index("done") + 2
        self.assertEqual(run_script([["killat", str(k)], ["undo", win(game)]]), ["killed at %d" % k])
        os.environ["VELMORA_TEST_FILE_SYSTEM"] = "NTFS"
        lines = run_script([["recover", win(game)]])
        self.assertIn("recovered", lines)
        originals = os.path.join(start, STORE, "originals")
        left = [os.path.relpath(os.path.join(d, f), originals) for d, _, fs in os.walk(originals) for f in fs]
        record = os.path.exists(os.path.join(start, STORE, "record.txt"))
        self.assertFalse(left and not record, (lines, left))

    def test_a_file_the_game_patches_before_a_roll_back_is_not_deleted_by_it(self):
        """The install has moved ours in (b.ini where none stood, a.ini over the player's); the game patches the
        file; then DONE cannot be written (the disk full) and the swap is rolled back. The roll-back takes the
        file under its name for ours and deletes it: the game's bytes must still exist somewhere."""
        start, game = self.game_folder("start")
        probe, probe_game = self.copy(start, "probe")
        _, kinds = self.steps_of([["install", win(self.first), win(probe_game), "1", "王者"]])
        k = kinds.index("done") + 1
        lost = []
        for name in ("DATA/Menu/b.ini", "DATA/Menu/a.ini"):
            folder, game = self.copy(start, "at-" + name.replace("/", "-"))
            target = os.path.join(game, name)
            lines = run_script([["patchat", str(k), win(target)], ["fail", "done", "112"],
                                ["install", win(self.first), win(game), "1", "王者"]])
            self.assertIn("patched at %d 1" % k, lines)
            self.assertIn("result 0", lines)
            if not [p for p, st in tree(folder).items() if st and st[0] == b"the game's patch"]:
                lost.append((name, lines))
        self.assertEqual(lost, [])

    def test_a_file_the_game_patches_before_a_crash_is_not_deleted_by_the_recovery(self):
        """The same through a crash: the game patches b.ini after the move in, the install is killed before DONE,
        and the next start's recovery rolls back."""
        start, game = self.game_folder("start")
        probe, probe_game = self.copy(start, "probe")
        _, kinds = self.steps_of([["install", win(self.first), win(probe_game), "1", "王者"]])
        k = kinds.index("done") + 1
        target = os.path.join(game, "DATA/Menu/b.ini")
        lines = run_script([["patchat", str(k), win(target)], ["killat", str(k)],
                            ["install", win(self.first), win(game), "1", "王者"]])
        self.assertIn("killed at %d" % k, lines)
        lines += run_script([["recover", win(game)]])
        holding = [p for p, st in tree(start).items() if st and st[0] == b"the game's patch"]
        self.assertNotEqual(holding, [], lines)

    def test_the_menu_and_the_undo_count_a_same_size_same_time_patch_alike(self):
        """The game rewrites b.ini (ours, where none stood) in the same size and keeps its last-write time (a
        patcher that sets times from its own list, or FAT's 2-s times). The undo hashes it and leaves it; the
        menu takes size and time for ours and counts nothing."""
        start, game = self.game_folder("start")
        self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
        b = os.path.join(game, "DATA/Menu/b.ini")
        st = os.stat(b)
        with open(b, "wb") as f:
            f.write(b"patch b")  # the same 7 bytes long as "first b"
        os.utime(b, ns=(st.st_atime_ns, st.st_mtime_ns))
        state = run_script([["state", win(game)]])
        undo = run_script([["undo", win(game)]])
        self.assertEqual(undo, ["undone 1 left"])
        self.assertEqual(state, ["state 王者 1"], (state, undo))


class UnorderedVolume(StoreSteps):
    """A game folder on FAT32 or exFAT (a USB disk, some game drives): folders' entries reach the disk in any order,
    a rename into another folder is two writes in two folders, a rename over a file a delete and a rename. Only
    what a flush confirms holds: a file's flush its bytes and its entry, a folder's flush ("flushdir") every entry
    made in it so far. Wine calls every drive NTFS: VELMORA_TEST_FILE_SYSTEM stands for the file system."""

    def setUp(self):
        super().setUp()
        os.environ["VELMORA_TEST_FILE_SYSTEM"] = "FAT32"
        self.addCleanup(os.environ.pop, "VELMORA_TEST_FILE_SYSTEM", None)

    def traced(self, commands):
        """[(kind, path, target)] of each step of the commands (target: a rename's new name, else None)."""
        lines = wine_script.run_script([["trace"]] + commands, ("step", "target", "result", "undone"))
        steps = []
        for l in lines:
            parts = l.split(" ", 3)
            if parts[0] == "step":
                steps.append([parts[2], parts[3], None])
            elif parts[0] == "target":
                steps[int(parts[1]) - 1][2] = parts[2]
        return lines, steps

    @staticmethod
    def parent(path):
        return path.rsplit("\\", 1)[0].lower()

    def folders_changed(self, kind, path, target):
        """The folders whose entries a step changes."""
        if kind in ("create", "delete", "mkdir", "rmdir"):
            return {self.parent(path)}
        if kind == "rename":
            return {self.parent(path), self.parent(target or "?\\unknown")}
        return set()

    @staticmethod
    def confirmed(kind, path, folder, later):
        """Whether a change in `folder` is confirmed on disk by the steps `later`: the folder flushed, a new file
        flushed itself, or the folder removed (its removal then confirmed in its own parent)."""
        return any(k in ("flushdir", "rmdir") and p.lower() == folder for k, p, _ in later) or (
            kind == "create" and any(k == "flush" and p == path for k, p, _ in later))

    def assert_each_change_flushed_before(self, steps, start, end, what):
        """Every entry steps[start:end] change is confirmed on disk before steps[end]."""
        for i in range(start, end):
            kind, path, target = steps[i]
            for folder in self.folders_changed(kind, path, target):
                self.assertTrue(self.confirmed(kind, path, folder, steps[i + 1:end]),
                                "%s %s (%s) not on disk before %s" % (kind, path, folder, what))

    def assert_order_holds(self, steps):
        journal = "\\velmora-install.velmora-journal"
        done = [i for i, (k, _, _) in enumerate(steps) if k == "done"][0]
        gone = [i for i, (k, p, _) in enumerate(steps) if k == "delete" and p.endswith(journal)][-1]
        # No file changes folders by a rename: that is two writes, which can leave it in neither.
        for kind, path, target in steps:
            if kind == "rename":
                self.assertEqual(self.parent(path), self.parent(target or "?\\unknown"), (path, target))
        # Each journal line on disk before the next rename, deletion or folder: nothing outlives the line that
        # names it. (A staged file may: without a journal it is anyone's to delete.)
        for i, (kind, path, _) in enumerate(steps):
            if kind in ("journal", "done"):
                following = [s[:2] for s in steps[i + 1:] if s[0] in ("flush", "rename", "delete", "mkdir", "rmdir")]
                self.assertEqual(following[0], ["flush", path], (i, following[0]))
        self.assert_each_change_flushed_before(steps, 0, done, "DONE")
        self.assert_each_change_flushed_before(steps, done + 1, gone, "the journal's deletion")

    def test_every_change_is_on_disk_before_what_rests_on_it_and_no_original_changes_folders_by_a_rename(self):
        """The install keeping originals (a second install over a patched file and a player's file) and the undo
        that puts them back, traced on such a volume; on NTFS the same install flushes no folder at all."""
        start, game = self.game_folder("start")
        self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
        with open(os.path.join(game, "DATA/Menu/a.ini"), "wb") as f:
            f.write(b"the game's patched a")
        ntfs, ntfs_game = self.copy(start, "ntfs")
        lines, steps = self.traced([["install", win(self.second), win(game), "2", "钻石"]])
        self.assertIn("result 1", lines)
        self.assert_order_holds(steps)
        lines, steps = self.traced([["undo", win(game)]])
        self.assertIn("undone 0 left", lines)
        self.assert_order_holds(steps)
        os.environ["VELMORA_TEST_FILE_SYSTEM"] = "NTFS"
        lines, steps = self.traced([["install", win(self.second), win(ntfs_game), "2", "钻石"]])
        self.assertIn("result 1", lines)
        self.assertEqual([s for s in steps if s[0] == "flushdir"], [])

    def test_a_kill_at_any_step_of_an_install_keeping_originals_leaves_the_folder_and_store_before_or_after(self):
        StoreSteps.test_a_kill_at_any_step_of_an_install_keeping_originals_leaves_the_folder_and_store_before_or_after(
            self)

    def test_a_kill_at_any_step_of_an_undo_that_puts_back_and_keeps_leaves_the_folder_and_store_before_or_after(self):
        StoreSteps.test_a_kill_at_any_step_of_an_undo_that_puts_back_and_keeps_leaves_the_folder_and_store_before_or_after(
            self)

    @staticmethod
    def on_disk(root, relative):
        """The path of `relative` (Windows separators) under root, each level found in any letter case as Windows
        finds it; the levels not found as given."""
        path = root
        for level in relative.split("\\"):
            names = os.listdir(path) if os.path.isdir(path) else []
            path = os.path.join(path, next((n for n in names if n.lower() == level.lower()), level))
        return path

    @staticmethod
    def copy_file(source, target):
        st = os.stat(source)
        with open(source, "rb") as fi, open(target, "wb") as fo:
            fo.write(fi.read())
        os.utime(target, ns=(st.st_atime_ns, st.st_mtime_ns))

    def undo_step(self, root, before, step, folder, relative):
        """Takes back, in the tree at root, what a step wrote into `folder`'s entries (before: the tree as it was
        before that step, for a deleted file's bytes)."""
        kind, path, target = step
        a = relative(path)
        # The name as it was on disk before the step, in its own letter case.
        as_before = os.path.join(root, os.path.relpath(self.on_disk(before, a), before))
        if kind == "create" and os.path.isfile(self.on_disk(root, a)):
            os.remove(self.on_disk(root, a))
        elif kind == "delete" and not os.path.exists(self.on_disk(root, a)) and os.path.isfile(self.on_disk(before, a)):
            self.copy_file(self.on_disk(before, a), as_before)
        elif kind == "mkdir":
            shutil.rmtree(self.on_disk(root, a), ignore_errors=True)
        elif kind == "rmdir":
            os.makedirs(self.on_disk(root, a), exist_ok=True)
        elif kind == "rename":
            b = relative(target)
            old, new = as_before, self.on_disk(root, b)
            here_a, here_b = self.parent(path) == folder, self.parent(target) == folder
            if here_a and here_b and os.path.isfile(new) and not os.path.exists(old):
                os.rename(new, old)
            elif here_b and not here_a and os.path.isfile(new):
                os.remove(new)  # the new entry lost, while the old one's removal reached the disk
            elif here_a and not here_b and os.path.isfile(new) and not os.path.exists(old):
                self.copy_file(new, old)  # the old entry's removal lost: the file under both names

    def check_every_power_cut(self, start, command, same):
        """A power cut before each step of `command` in a copy of `start`: each disk it can leave is built from the
        tree a kill there leaves, with what no flush had confirmed yet taken back (one folder's entries at a time,
        then all of them, and the journal's unflushed lines). A recovery then brings each back to exactly before
        (no DONE on disk) or exactly after, by every file's bytes: no original is lost, and the record is whole."""
        whole, whole_game = self.copy(start, "whole")
        lines, steps = self.traced([command(whole_game)])
        total = len(steps)
        prefix = "\\\\?\\" + win(whole) + "\\"
        relative = lambda p: p[len(prefix):]
        journal = "Game\\velmora-install.velmora-journal"
        states = {total + 1: whole}
        for k in range(1, total + 1):
            states[k], game = self.copy(start, "s%d" % k)
            self.assertEqual(run_script([["killat", str(k)], command(game)]), ["killed at %d" % k])

        def contents(t):
            return {path: (st[0] if st else None) for path, st in same(t).items()}
        before, after = contents(tree(start)), contents(tree(whole))
        failures = []
        for k in range(1, total + 1):
            ran = steps[:k - 1]
            unflushed = {}
            for i, (kind, path, target) in enumerate(ran):
                for folder in self.folders_changed(kind, path, target):
                    if not self.confirmed(kind, path, folder, ran[i + 1:]):
                        unflushed.setdefault(folder, []).append(i)
            appended = [i for i, (x, p, _) in enumerate(ran) if x in ("journal", "done")]
            flushed = [i for i, (x, p, _) in enumerate(ran) if x == "flush" and relative(p) == journal]
            cut_journal = appended and (not flushed or appended[-1] > flushed[-1])
            cuts = [[f] for f in sorted(unflushed)] + ([sorted(unflushed)] if len(unflushed) > 1 else [])
            cuts = [(c, False) for c in cuts] + ([(sorted(unflushed), True)] if cut_journal else [])
            built = []
            for n, (folders, journal_cut) in enumerate(cuts):
                root = os.path.join(self.dir, "m%d-%d" % (k, n))
                copy_tree(states[k], root)
                undo = sorted({(i, f) for f in folders for i in unflushed[f]}, reverse=True)
                for i, f in undo:
                    self.undo_step(root, states[i + 1], ran[i], f, relative)
                path = self.on_disk(root, journal)
                if journal_cut and os.path.isfile(path):
                    kept = self.on_disk(states[flushed[-1] + 2], journal) if flushed else None
                    with open(path, "wb") as fo:
                        if kept and os.path.isfile(kept):
                            with open(kept, "rb") as fi:
                                fo.write(fi.read())
                # DONE on disk, or the journal's deletion (which comes only after it).
                if os.path.isfile(path):
                    with open(path, "rb") as f:
                        done = b"\nDONE\n" in f.read()
                else:
                    done = any(x == "delete" and relative(p) == journal for x, p, _ in ran)
                built.append((root, done, folders, journal_cut))
            if not built:
                continue
            answers = run_script([["recover", win(os.path.join(r, "Game"))] for r, _, _, _ in built])
            for (root, done, folders, journal_cut), answer in zip(built, answers):
                # A staged file left where a lost journal no longer names it is ours: the next install deletes it.
                got = {p: c for p, c in contents(tree(root)).items() if not p.endswith(".velmora-new")}
                diff = differences(after if done else before, got)
                if answer != "recovered" or diff:
                    failures.append("power cut before step %d (%s %s), lost: %s%s -> %s\n%s" % (
                        k, steps[k - 1][0], relative(steps[k - 1][1]), ", ".join(relative(f + "\\") for f in folders),
                        " and the journal's last lines" if journal_cut else "", answer, diff))
                shutil.rmtree(root)
        for path in states.values():
            shutil.rmtree(path, ignore_errors=True)
        self.assertEqual(failures, [], "\n".join(failures[:12]))

    def test_a_power_cut_at_any_step_of_an_install_keeping_originals_loses_no_original(self):
        start, game = self.game_folder("start")
        self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
        with open(os.path.join(game, "DATA/Menu/a.ini"), "wb") as f:
            f.write(b"the game's patched a")
        self.check_every_power_cut(start, lambda g: ["install", win(self.second), win(g), "2", "钻石"],
                                   self.same_install)

    def test_a_power_cut_at_any_step_of_an_undo_loses_no_original(self):
        start, game = self.game_folder("start")
        self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
        self.assertIn("result 1", self.install(self.second, game, 2, "钻石"))
        self.check_every_power_cut(start, lambda g: ["undo", win(g)], lambda t: t)

    def test_an_original_copied_back_whose_game_file_is_patched_before_the_drop_stays_named_by_a_record(self):
        """On such a volume the undo copies a.ini's original back and drops the store's copy after DONE only
        while its bytes stand in Game. The game patches a.ini at DONE: the store's copy rightly stays, but the
        undo removes the record all the same (Z), so nothing names it."""
        start, game = self.game_folder("start")
        self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
        probe, probe_game = self.copy(start, "probe")
        _, kinds = self.steps_of([["undo", win(probe_game)]])
        at = kinds.index("done") + 1
        target = os.path.join(game, "DATA/Menu/a.ini")
        lines = run_script([["patchat", str(at), win(target)], ["undo", win(game)]])
        self.assertIn("patched at %d 1" % at, lines)
        self.assert_original_still_named(start, game, os.path.join("DATA", "Menu", "a.ini"), lines)

    def test_an_original_copied_back_whose_game_file_is_held_at_the_drop_stays_named_by_a_record(self):
        """The same with the game running: a.ini held when the drop looks. The store's copy stays without a
        word, the journal goes, and Z removes the record."""
        start, game = self.game_folder("start")
        self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
        probe, probe_game = self.copy(start, "probe")
        _, kinds = self.steps_of([["undo", win(probe_game)]])
        at = kinds.index("done") + 1
        target = os.path.join(game, "DATA/Menu/a.ini")
        lines = run_script([["holdat", str(at), win(target)], ["undo", win(game)], ["unlock"]])
        self.assertIn("held at %d 1" % at, lines)
        self.assert_original_still_named(start, game, os.path.join("DATA", "Menu", "a.ini"), lines)

    def test_a_record_set_aside_by_a_replacement_cut_short_is_read(self):
        """Between the renames that replace the record, record.txt is missing and the set-aside one is the record:
        the menu reads it, and the next recovery or install puts things right."""
        start, game = self.game_folder("start")
        self.assertIn("result 1", self.install(self.first, game, 1, "王者"))
        store = os.path.join(start, STORE)
        os.rename(os.path.join(store, "record.txt"), os.path.join(store, "record.txt.velmora-old"))
        self.assertEqual(run_script([["state", win(game)]]), ["state 王者 0"])
        self.assertEqual(run_script([["undo", win(game)]]), ["undone 0 left"])
        self.assertFalse(os.path.exists(store))


# The suite's own cases run again on such a volume only where they watch the steps; the rest are the same there.
for _name in dir(StoreSteps):
    if _name.startswith("test_") and _name not in UnorderedVolume.__dict__:
        setattr(UnorderedVolume, _name, None)


if __name__ == "__main__":
    wine_script.take_arguments()
    unittest.main(verbosity=2)
