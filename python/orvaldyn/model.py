"""What the Python side needs to know of a model file without running it: the
names of its parameters, bodies and output channels, and the mesh and image
files it names. The program's reader stays the judge of whether the file is
good; this only walks the sections of a file that is."""

import os

# Fields per record of the list sections whose records have a fixed length.
_RECORD = {"parameter_info": 2, "body_info": 12, "output_info": 2}
_FILE_SUFFIXES = (".stl", ".bmp")


class ModelInfo:
    def __init__(self, path, text=None):
        """The model file at `path`, or its bytes `text`."""
        self.path = os.path.abspath(path)
        if text is None:
            with open(path, "rb") as f:
                text = f.read()
        self.text = text
        tokens = self.text.decode("utf-8", "replace").lstrip("\ufeff").split()
        self.parameters, self.bodies, self.outputs, self.files = [], [], [], []
        sections = {}
        start = 0
        # Sections end at a "%" token; records hold none (fields are names and
        # expressions, and "%" alone closes the section).
        for k, tok in enumerate(tokens):
            if tok == "%":
                part = tokens[start:k]
                if part:
                    sections.setdefault(part[0], part[1:])
                start = k + 1
        for key, attr in (("parameter_info", "parameters"), ("body_info", "bodies"),
                          ("output_info", "outputs")):
            fields = sections.get(key, [])[1:]  # after the heading token
            n = _RECORD[key]
            getattr(self, attr).extend(fields[i] for i in range(0, len(fields) - n + 1, n))
        for key in ("shape_info", "texture_info"):
            for tok in sections.get(key, []):
                if tok.lower().endswith(_FILE_SUFFIXES) and tok not in self.files:
                    self.files.append(tok)
