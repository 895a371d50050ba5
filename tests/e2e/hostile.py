"""Hostile catalogues (filled in below)."""


def case_hostile(run):
    run.check("todo", False)
