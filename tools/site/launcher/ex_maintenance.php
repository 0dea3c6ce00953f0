<!DOCTYPE html>
<html lang="fr">
<head><meta charset="utf-8"><title>Vestrahal</title>
<style>
  body { margin: 0; font-family: Verdana, sans-serif; color: #e8d8c0; background: #140c08; }
  div { margin: 40px 60px; padding: 20px; border: 1px solid #974d17; background: #1e120a; }
  h1 { color: #ca671f; } a { color: #f0a050; font-size: 16px; }
</style></head>
<body><div>
<h1>Maintenance hebdomadaire</h1>
<p>Chaque mercredi de 6 h à 8 h, les royaumes sont arrêtés pour les sauvegardes et les correctifs.</p>
<p><a id="home" href="/launcher/launcher.php">&larr; Retour aux nouvelles</a></p>
</div></body></html>
