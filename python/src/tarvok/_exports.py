"""Writing a result's export files through the export library compiled into ``tarvok._core``.

The files are the ones the ``tarvok`` program writes beside its results, from
the same C++ writers: ``clusters.gmt`` (gene sets), ``clusters.kgg`` and
``clusters.cdt`` (Cluster 3.0 / Java TreeView) and ``clusters.gct`` (GCT 1.3).
"""
from __future__ import annotations

import os
from typing import Any, List



class ExportMethods:
    """The export writers of :class:`ShavingResult` and a fitted :class:`GeneShaving`.

    Each file is written to a temporary name beside its path and renamed into
    place. A file that cannot be written raises ``OSError``; a result
    without clusters raises ``ValueError`` (an export needs at least one).
    """

    def _export_record(self) -> Any:
        raise NotImplementedError

    def _write(self, format: str, path: Any) -> str:
        path = os.fspath(path)
        self._export_record().write(format, path)
        return path

    def write_gmt(self, path: Any) -> str:
        """Writes the gene sets (GMT): per cluster every gene, then those that follow the cluster's pattern
        (``_up``, positive scores) and those that mirror it (``_down``). Returns the path written.
        """
        return self._write("gmt", path)

    def write_symbol_gmt(self, path: Any) -> str:
        """Writes the same gene sets by gene symbol, each symbol once per set, genes without a symbol or
        with a placeholder such as ``--Control`` left out. Needs ``gene_symbols``. Returns the path written.
        """
        if not self._export_record().has_symbols:
            raise ValueError("this result has no gene symbols; give gene_symbols to shave or fit")
        return self._write("symbol-gmt", path)

    def write_kgg(self, path: Any) -> str:
        """Writes the gene groups (KGG): each clustered gene with its cluster number. Returns the path."""
        return self._write("kgg", path)

    def write_cdt(self, path: Any) -> str:
        """Writes the clustered data table (CDT): clustered genes first, cluster by cluster, then the others.

        Returns the path written.
        """
        return self._write("cdt", path)

    def write_gct(self, path: Any) -> str:
        """Writes the clustered genes' centred values as GCT 1.3, with cluster, score and sign per gene
        and, when the run had classes, each sample's class. Returns the path written.
        """
        return self._write("gct", path)

    def write_exports(self, directory: Any) -> List[str]:
        """Writes every export file into directory (made when missing) under the names ``tarvok`` uses:
        clusters.gmt, clusters.kgg, clusters.cdt and clusters.gct, and clusters.symbols.gmt when the
        result has gene symbols. None of them is renamed into place unless all were written. Returns
        their paths.
        """
        directory = os.fspath(directory)
        os.makedirs(directory, exist_ok=True)
        record = self._export_record()
        record.write_all(directory)
        return [os.path.join(directory, name) for name in record.names]
