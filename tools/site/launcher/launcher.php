<!DOCTYPE html>
<html lang="fr">
<head>
<meta charset="utf-8">
<title>Vestrahal — Nouvelles</title>
<style>
  html, body { margin: 0; height: 100%; overflow: hidden; }
  body {
    font-family: Verdana, sans-serif; font-size: 12px; color: #e8d8c0;
    background: radial-gradient(ellipse at 50% 0%, #3a2414 0%, #140c08 60%, #07040a 100%);
  }
  header { text-align: center; padding: 18px 0 6px; }
  header h1 { margin: 0; font-size: 34px; letter-spacing: 8px; color: #ca671f;
              text-shadow: 0 0 12px #974d17; }
  header p { margin: 4px 0 0; color: #a08060; font-style: italic; }
  main { display: flex; gap: 18px; margin: 10px 26px; height: 330px; }
  article { flex: 1; background: rgba(20, 12, 8, 0.85); border: 1px solid #974d17;
            border-radius: 6px; padding: 10px 14px; }
  article h2 { margin: 0 0 6px; font-size: 15px; color: #d9792d; }
  article .date { color: #8a6a4a; font-size: 10px; }
  a { color: #f0a050; }
  nav { text-align: center; margin-top: 8px; }
  nav a { margin: 0 10px; }
</style>
</head>
<body>
<header>
  <h1>VESTRAHAL</h1>
  <p>Les nouvelles du royaume</p>
</header>
<main>
  <article>
    <h2>Ouverture de la saison des Ombres</h2>
    <div class="date">8 décembre</div>
    <p>Les portes de la citadelle sont ouvertes : raids, hauts faits et récompenses
       attendent les aventuriers de Vestrahal.</p>
    <p><a id="ex-saison" href="/launcher/ex_saison.php">Lire l'article complet</a></p>
  </article>
  <article>
    <h2>Maintenance hebdomadaire</h2>
    <div class="date">5 décembre</div>
    <p>Les royaumes redémarrent chaque mercredi à 6 h. Pensez à mettre le launcher à jour.</p>
    <p><a id="ex-maintenance" href="/launcher/ex_maintenance.php?id=42">Détails de la maintenance</a></p>
  </article>
  <article>
    <h2>Rejoignez la communauté</h2>
    <div class="date">1er décembre</div>
    <p>Guildes, entraide et événements : tout se passe sur le forum.</p>
    <p><a id="forum" href="http://www.@HOST@/forum/">Le forum</a><br>
       <a id="contact" href="mailto:contact@vestrahal.invalid">Écrire à l'équipe</a><br>
       <a id="blank" href="/launcher/ex_saison.php" target="_blank">Ouvrir la saison</a></p>
  </article>
</main>
</body>
</html>
